#include "faultmode.h"

#include <cmath>

namespace {
enum class ArgUnit { NoArg, Seconds, Millis, KiBps };

struct ModeInfo {
    const char *name;
    FaultMode::Kind kind;
    ArgUnit unit;
    double defaultArg; // in the unit written on the command line
    double min, max;
};

constexpr ModeInfo Modes[] = {
    {"none", FaultMode::None, ArgUnit::NoArg, 0, 0, 0},
    {"refuse", FaultMode::Refuse, ArgUnit::NoArg, 0, 0, 0},
    {"close", FaultMode::Close, ArgUnit::Seconds, 15, 0.01, 86400},
    {"reset", FaultMode::Reset, ArgUnit::Seconds, 20, 0.01, 86400},
    {"late", FaultMode::Late, ArgUnit::Millis, 1500, 0, 600000},
    {"split", FaultMode::Split, ArgUnit::Millis, 100, 1, 60000},
    {"coalesce", FaultMode::Coalesce, ArgUnit::NoArg, 0, 0, 0},
    {"silent", FaultMode::Silent, ArgUnit::NoArg, 0, 0, 0},
    {"garbage", FaultMode::Garbage, ArgUnit::NoArg, 0, 0, 0},
    {"flood", FaultMode::Flood, ArgUnit::KiBps, 1024, 1, 65536},
    {"blob", FaultMode::Blob, ArgUnit::Seconds, 5, 0.01, 86400},
};

const ModeInfo *infoOf(FaultMode::Kind kind)
{
    for (const ModeInfo &m : Modes) {
        if (m.kind == kind)
            return &m;
    }
    return nullptr;
}

int stored(const ModeInfo &m, double arg)
{
    return m.unit == ArgUnit::Seconds ? int(std::lround(arg * 1000)) : int(std::lround(arg));
}
} // namespace

std::optional<FaultMode> FaultMode::parse(QStringView text, QString *error)
{
    const qsizetype colon = text.indexOf(u':');
    const QStringView name = (colon < 0 ? text : text.left(colon)).trimmed();
    const QStringView argText = colon < 0 ? QStringView() : text.mid(colon + 1).trimmed();

    for (const ModeInfo &m : Modes) {
        if (name.compare(QLatin1String(m.name), Qt::CaseInsensitive) != 0)
            continue;
        if (m.unit == ArgUnit::NoArg) {
            if (colon >= 0) {
                *error = QStringLiteral("fault mode \"%1\" takes no argument").arg(m.name);
                return std::nullopt;
            }
            return FaultMode{m.kind, 0};
        }
        double arg = m.defaultArg;
        if (colon >= 0) {
            bool ok = false;
            arg = argText.toDouble(&ok);
            if (!ok || !(arg >= m.min && arg <= m.max)) {
                *error = QStringLiteral("fault mode \"%1\" needs a number from %2 to %3, not \"%4\"")
                             .arg(m.name)
                             .arg(m.min)
                             .arg(m.max)
                             .arg(argText.toString());
                return std::nullopt;
            }
        }
        return FaultMode{m.kind, stored(m, arg)};
    }
    *error = QStringLiteral("unknown fault mode \"%1\"").arg(name.toString());
    return std::nullopt;
}

QString FaultMode::toString() const
{
    const ModeInfo *m = infoOf(kind);
    if (!m)
        return QStringLiteral("none");
    switch (m->unit) {
    case ArgUnit::NoArg:
        return QLatin1String(m->name);
    case ArgUnit::Seconds:
        return QStringLiteral("%1:%2").arg(m->name).arg(value / 1000.0);
    case ArgUnit::Millis:
    case ArgUnit::KiBps:
        return QStringLiteral("%1:%2").arg(m->name).arg(value);
    }
    return QLatin1String(m->name);
}

std::optional<FaultAssignment> parseFaultAssignment(QStringView text, QString *error)
{
    const qsizetype eq = text.indexOf(u'=');
    if (eq < 0) {
        *error = QStringLiteral("--fault wants n=mode[:arg], not \"%1\"").arg(text.toString());
        return std::nullopt;
    }
    bool ok = false;
    const int slot = text.left(eq).trimmed().toInt(&ok);
    if (!ok || slot < 1 || slot > 6) {
        *error = QStringLiteral("--fault: inverter number must be 1 to 6, not \"%1\"")
                     .arg(text.left(eq).toString());
        return std::nullopt;
    }
    const auto mode = FaultMode::parse(text.mid(eq + 1), error);
    if (!mode)
        return std::nullopt;
    return FaultAssignment{slot, *mode};
}
