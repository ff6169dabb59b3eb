#include "planttotals.h"

void PlantTotals::refreshEnergy()
{
    long double sum = 0;
    for (int n = FirstSlot; n <= LastSlot; ++n)
        sum += SlotEnergy[n];
    PlantEnergy = sum;
    // 0.5 kg of CO2 per kWh, and 1000 kWh per MWh.
    PlantCO2 = PlantEnergy * 0.5L;
    PlantCO2 = PlantCO2 * 1000;
}

void PlantTotals::refreshPower()
{
    long double sum = 0;
    for (int n = FirstSlot; n <= LastSlot; ++n)
        sum += SlotPower[n];
    PlantPower = sum;
}
