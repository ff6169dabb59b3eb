#pragma once

#include "protocol/replies.h"

#include <QString>
#include <QtGlobal>

#include <array>

// The physics of the simulated plant: six inverters under one sun, with
// passing clouds, on a simulated clock. Pure and deterministic for a given
// seed: no sockets, no wall clock. Times are simulated seconds since midnight
// of the first simulated day (they run on past 86400 into the next days).

// Operating state codes as the inverters report them.
enum class InverterState : quint8 {
    Off = 0,             // night: the sun is down
    Idling = 1,          // first or last light, too little to do anything
    Starting = 2,        // morning, enough light to wake up, not yet feeding
    FeedInMpp = 3,       // feeding in at the maximum power point
    RegulatedFeedIn = 4, // feeding in at the AC limit (DC power held back)
    FeedIn = 5,          // evening, feeding in the last low power
};

// One DC input: a string of panels with its own orientation.
struct DcInputProfile {
    double peakWatts = 0; // DC power in full clear-sky sun facing it
    double mppVolts = 0;  // string voltage at the maximum power point
    double hourShift = 0; // its best hour relative to solar noon (east < 0, west > 0)
};

struct InverterProfile {
    QString name;               // as written to param.ini, e.g. "Roof East 1"
    double nominalWatts = 0;    // AC limit; above it the inverter regulates
    std::array<DcInputProfile, 3> inputs{};
    qint64 initialTotalWh = 0;  // total energy counter when the run starts
    double cloudLagSeconds = 0; // clouds reach this inverter a little later
};

// The six inverters of the simulated plant (5 to 10 kW, east, south and west
// roofs, a carport); their DC side is oversized so that they regulate at noon.
std::array<InverterProfile, 6> defaultInverters();

// The values of one inverter at one moment, before they are put into counts.
struct Electrical {
    InverterState state = InverterState::Off;
    std::array<double, 3> dcVolts{}, dcAmps{}, dcWatts{};
    std::array<double, 3> acVolts{}, acAmps{}, acWatts{};

    double dcTotalWatts() const { return dcWatts[0] + dcWatts[1] + dcWatts[2]; }
    double acTotalWatts() const { return acWatts[0] + acWatts[1] + acWatts[2]; }
};

// What an inverter reports: exactly the values its answers carry.
struct InverterReading {
    InverterState state = InverterState::Off;
    PowerParameters power; // raw counts: volts x10, amperes x100, watts
    qint32 dailyWh = 0;
    qint32 totalWh = 0;
};

// The counts of a power-parameters answer for a set of values: each value
// scaled (volts x10, amperes x100, watts), rounded and clamped to 0..65535.
PowerParameters toPowerParameters(const Electrical &e);

struct PlantModelOptions {
    quint32 seed = 1;        // the clouds and the small wobbles of the grid voltage
    double cloudiness = 1.0; // 0 = clear sky all day, 1 = passing clouds
    double startTime = 7 * 3600.0;
};

class PlantModel {
public:
    static constexpr int InverterCount = 6;
    static constexpr double SecondsPerDay = 86400.0;
    static constexpr double IntegrationStep = 60.0; // simulated seconds
    static constexpr double Sunrise = 5.5 * 3600, Sunset = 20.5 * 3600, SolarNoon = 13 * 3600;

    explicit PlantModel(PlantModelOptions options = {},
                        const std::array<InverterProfile, 6> &inverters = defaultInverters());

    // Moves the clock forward to simTime. Times before the present (and NaN)
    // are ignored: the clock never runs backwards. The energies integrate
    // the AC power in steps of IntegrationStep; a jump of more than 30
    // simulated days integrates only the last 30.
    void advanceTo(double simTime);
    double time() const { return m_now; }

    // Inverter slot 1..6 (anything else is taken as the nearest slot).
    const InverterProfile &profile(int slot) const;

    // The values of an inverter at any moment (energies are not part of it).
    Electrical electrical(int slot, double simTime) const;

    // What the inverter reports now: state and values at time(), daily
    // energy since it woke up this morning (0 while Off), total energy.
    InverterReading reading(int slot) const;

    // Clear-sky light for a time of day, 0 (night) to 1 (solar noon).
    static double sunLight(double simTime);
    // Share of the light that passes the clouds over an inverter, 0.3 to 1.
    double cloudFactor(int slot, double simTime) const;

private:
    static int index(int slot);
    double noise(quint64 channel, double x) const;

    PlantModelOptions m_options;
    std::array<InverterProfile, 6> m_inverters;
    double m_now = 0;
    double m_integratedUntil = 0;
    std::array<double, 6> m_dailyWh{};
    std::array<double, 6> m_producedWh{}; // since the start of the run
};
