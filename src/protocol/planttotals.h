#pragma once

#include <array>

// The figures of the whole plant, all in extended precision, all zero at
// start. Indices 1..6 of the slot arrays are the inverter slots; index 0 is
// unused and stays zero.
struct PlantTotals {
    static constexpr int FirstSlot = 1;
    static constexpr int LastSlot = 6;

    std::array<long double, 7> SlotEnergy{}; // MWh, from each slot's last total-energy answer
    std::array<long double, 7> SlotPower{};  // kW, from each slot's last power-parameters answer
    long double PlantEnergy = 0;             // MWh
    long double PlantPower = 0;              // kW
    long double PlantCO2 = 0;                // kg

    // True for a slot number 1..6.
    static constexpr bool isSlot(int n) { return n >= FirstSlot && n <= LastSlot; }

    // PlantEnergy := SlotEnergy[1] + ... + SlotEnergy[6], added left to right;
    // then PlantCO2 := PlantEnergy × 0.5, then × 1000 (0.5 kg per kWh).
    // PlantPower is not touched.
    void refreshEnergy();

    // PlantPower := SlotPower[1] + ... + SlotPower[6], added left to right.
    // PlantEnergy and PlantCO2 are not touched.
    void refreshPower();
};
