#include "plantmodel.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr double Pi = 3.14159265358979323846;
constexpr double MaxCatchUp = 30 * PlantModel::SecondsPerDay;
constexpr double MaxTime = 1e12; // far beyond any run; keeps the arithmetic exact enough

// Below this share of the nominal power there is too little light to wake up;
// below the second one the inverter will not start feeding in the morning but
// keeps feeding in the evening.
constexpr double IdleShare = 0.004;
constexpr double StartShare = 0.03;

// AC phase shares: real inverters never split exactly evenly.
constexpr std::array<double, 3> PhaseShare{0.3342, 0.3331, 0.3327};

quint64 splitmix(quint64 x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

double smoothstep(double lo, double hi, double x)
{
    const double t = std::clamp((x - lo) / (hi - lo), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

double timeOfDay(double simTime)
{
    double t = std::fmod(simTime, PlantModel::SecondsPerDay);
    return t < 0 ? t + PlantModel::SecondsPerDay : t;
}

// Conversion losses: a standby share, a linear and a quadratic part, giving
// about 96 % efficiency at medium and full load and less at low light.
double losses(double dcWatts, double nominal)
{
    return 15.0 + 0.025 * dcWatts + 0.01 * dcWatts * dcWatts / nominal;
}

// The DC power at which the AC output just reaches the nominal power.
double dcForNominal(double nominal)
{
    const double a = 0.01 / nominal, b = 0.975, c = 15.0 + nominal;
    return (b - std::sqrt(b * b - 4 * a * c)) / (2 * a);
}

quint16 count(double value, double scale)
{
    const double v = std::round(value * scale);
    if (!(v > 0))
        return 0;
    return v >= 65535.0 ? 65535 : quint16(v);
}

qint32 toInt32(double v)
{
    if (!(v > std::numeric_limits<qint32>::min()))
        return std::numeric_limits<qint32>::min();
    if (v >= std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    return qint32(std::llround(v));
}
} // namespace

std::array<InverterProfile, 6> defaultInverters()
{
    return {{
        {QStringLiteral("Roof East 1"), 8000, {{{3300, 480, -1.6}, {3300, 470, -1.4}, {3000, 455, -1.5}}}, 8412345, 0},
        {QStringLiteral("Roof East 2"), 8000, {{{3200, 475, -1.5}, {3200, 465, -1.5}, {3100, 450, -1.3}}}, 7903112, 40},
        {QStringLiteral("Roof South"), 10000, {{{4100, 520, 0.1}, {4100, 510, -0.1}, {4000, 505, 0.0}}}, 15207788, 90},
        {QStringLiteral("Carport"), 6000, {{{2600, 400, 0.0}, {2500, 395, 0.2}, {2200, 380, 0.0}}}, 3120456, 150},
        {QStringLiteral("Barn West 1"), 5000, {{{2100, 380, 1.5}, {2000, 372, 1.6}, {1900, 360, 1.4}}}, 4618230, 240},
        {QStringLiteral("Barn West 2"), 5000, {{{2050, 385, 1.4}, {2050, 378, 1.5}, {1900, 365, 1.7}}}, 4402917, 260},
    }};
}

PowerParameters toPowerParameters(const Electrical &e)
{
    PowerParameters p;
    for (int k = 0; k < 3; ++k) {
        p.blocks[PowerParameters::DcInput1 + k] = {count(e.dcVolts[k], 10), count(e.dcAmps[k], 100),
                                                   count(e.dcWatts[k], 1)};
        p.blocks[PowerParameters::AcPhase1 + k] = {count(e.acVolts[k], 10), count(e.acAmps[k], 100),
                                                   count(e.acWatts[k], 1)};
    }
    return p;
}

PlantModel::PlantModel(PlantModelOptions options, const std::array<InverterProfile, 6> &inverters)
    : m_options(options), m_inverters(inverters)
{
    if (!(m_options.startTime >= 0))
        m_options.startTime = 0;
    m_options.startTime = std::min(m_options.startTime, MaxTime);
    if (!(m_options.cloudiness >= 0))
        m_options.cloudiness = 0;
    m_options.cloudiness = std::min(m_options.cloudiness, 1.0);
    // The day has been running since midnight: today's energy so far counts,
    // the total counter already holds it.
    m_now = m_integratedUntil = std::floor(m_options.startTime / SecondsPerDay) * SecondsPerDay;
    advanceTo(m_options.startTime);
    m_producedWh.fill(0);
}

int PlantModel::index(int slot)
{
    return std::clamp(slot, 1, InverterCount) - 1;
}

const InverterProfile &PlantModel::profile(int slot) const
{
    return m_inverters[index(slot)];
}

void PlantModel::advanceTo(double simTime)
{
    if (!(simTime > m_now))
        return;
    simTime = std::min(simTime, MaxTime);
    if (simTime - m_integratedUntil > MaxCatchUp)
        m_integratedUntil = simTime - MaxCatchUp;
    while (m_integratedUntil + IntegrationStep <= simTime) {
        const double mid = m_integratedUntil + IntegrationStep / 2;
        for (int i = 0; i < InverterCount; ++i) {
            const Electrical e = electrical(i + 1, mid);
            if (e.state == InverterState::Off) {
                m_dailyWh[i] = 0;
                continue;
            }
            const double wh = e.acTotalWatts() * IntegrationStep / 3600.0;
            m_dailyWh[i] += wh;
            m_producedWh[i] += wh;
        }
        m_integratedUntil += IntegrationStep;
    }
    m_now = simTime;
}

double PlantModel::sunLight(double simTime)
{
    const double t = timeOfDay(simTime);
    if (t <= Sunrise || t >= Sunset)
        return 0;
    // Elevation-like arc; the power softens the morning and evening through
    // the longer path of the light in the air.
    return std::pow(std::sin(Pi * (t - Sunrise) / (Sunset - Sunrise)), 1.3);
}

double PlantModel::noise(quint64 channel, double x) const
{
    const double k = std::floor(x);
    const double f = x - k;
    const quint64 base = splitmix((quint64(m_options.seed) << 32) ^ channel);
    const auto at = [base](qint64 knot) { return double(splitmix(base ^ quint64(knot)) >> 11) * 0x1.0p-53; };
    const qint64 knot = qint64(k);
    const double a = at(knot), b = at(knot + 1);
    return a + (b - a) * f * f * (3 - 2 * f);
}

double PlantModel::cloudFactor(int slot, double simTime) const
{
    if (m_options.cloudiness <= 0)
        return 1.0;
    const double t = simTime - profile(slot).cloudLagSeconds;
    const double n = 0.65 * noise(1, t / 900.0) + 0.35 * noise(2, t / 240.0);
    return 1.0 - 0.7 * m_options.cloudiness * smoothstep(0.45, 0.85, n);
}

Electrical PlantModel::electrical(int slot, double simTime) const
{
    Electrical e;
    if (!std::isfinite(simTime))
        return e;
    const InverterProfile &s = profile(slot);
    const double sun = sunLight(simTime);
    if (sun <= 0)
        return e;

    const double tod = timeOfDay(simTime);
    const double light = sun * cloudFactor(slot, simTime);
    std::array<double, 3> avail{};
    double availTotal = 0;
    for (int k = 0; k < 3; ++k) {
        const DcInputProfile &in = s.inputs[k];
        // Orientation: a string facing east sees more in the morning.
        const double facing =
            0.65 + 0.35 * std::cos(Pi * (tod - SolarNoon - in.hourShift * 3600) / (Sunset - Sunrise));
        avail[k] = in.peakWatts * light * facing;
        availTotal += avail[k];
    }

    const int base = index(slot) * 3;
    for (int j = 0; j < 3; ++j)
        e.acVolts[j] = 230.0 + 6.0 * (noise(100 + base + j, simTime / 600.0) - 0.5);

    const bool morning = tod < SolarNoon;
    if (availTotal < IdleShare * s.nominalWatts || (morning && availTotal < StartShare * s.nominalWatts)) {
        // Awake but not feeding: open-circuit voltages, no current.
        e.state = availTotal < IdleShare * s.nominalWatts ? InverterState::Idling : InverterState::Starting;
        for (int k = 0; k < 3; ++k)
            e.dcVolts[k] = 1.15 * s.inputs[k].mppVolts * (0.85 + 0.15 * std::min(1.0, light * 10));
        return e;
    }

    e.state = availTotal < StartShare * s.nominalWatts ? InverterState::FeedIn : InverterState::FeedInMpp;
    double scale = 1.0;
    if (availTotal - losses(availTotal, s.nominalWatts) > s.nominalWatts) {
        e.state = InverterState::RegulatedFeedIn;
        scale = dcForNominal(s.nominalWatts) / availTotal;
    }
    for (int k = 0; k < 3; ++k) {
        const DcInputProfile &in = s.inputs[k];
        // Warm panels lose voltage; holding power back moves the working
        // point off the maximum power point towards open circuit.
        const double volts = in.mppVolts * (0.92 + 0.08 * std::sqrt(std::min(1.0, avail[k] / in.peakWatts)))
                             * (1.0 - 0.05 * sun) * (1.0 + 0.08 * (1.0 - scale));
        e.dcWatts[k] = avail[k] * scale;
        e.dcVolts[k] = volts;
        e.dcAmps[k] = e.dcWatts[k] / volts;
    }
    const double dc = e.dcTotalWatts();
    const double ac = std::max(0.0, dc - losses(dc, s.nominalWatts));
    for (int j = 0; j < 3; ++j) {
        e.acVolts[j] += 1.5 * ac / s.nominalWatts; // feeding in lifts the local grid voltage a little
        e.acWatts[j] = ac * PhaseShare[j];
        e.acAmps[j] = e.acWatts[j] / e.acVolts[j];
    }
    return e;
}

InverterReading PlantModel::reading(int slot) const
{
    const int i = index(slot);
    const Electrical e = electrical(slot, m_now);
    InverterReading r;
    r.state = e.state;
    r.power = toPowerParameters(e);
    r.dailyWh = e.state == InverterState::Off ? 0 : toInt32(m_dailyWh[i]);
    r.totalWh = toInt32(double(m_inverters[i].initialTotalWh) + std::round(m_producedWh[i]));
    return r;
}
