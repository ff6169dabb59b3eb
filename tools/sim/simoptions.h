#pragma once

#include "faultmode.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// How the simulated plant is run; filled from the command line.
struct SimOptions {
    static constexpr quint16 DefaultBasePort = 47001;

    // Ports of inverters 1..6 and the panel: unset = seven consecutive free
    // ports, searched from DefaultBasePort upwards; 0 = a free port of the
    // kernel's choice for each; P = exactly P..P+6.
    std::optional<quint16> basePort;
    double dayLength = 600;   // real seconds per simulated day
    double startHour = 7;     // simulated time of day at start
    double cloudiness = 1.0;  // 0 = clear sky, 1 = passing clouds
    quint32 seed = 1;
    QString iniPath;          // where to write param.ini, empty = nowhere
    bool autoRead = false;    // param.ini also ticks Auto-Read at start
    bool quiet = false;       // print only the ports and the panel lines
    bool verbose = false;     // also print every request
    bool exitWithStdin = false;
    std::array<FaultMode, 7> faults{}; // index 1..6; 0 unused
};

struct SimOptionsResult {
    std::optional<SimOptions> options; // nullopt on error or --help
    bool helpRequested = false;
    QString error;                     // set when options is nullopt and help was not asked
};

// Parses the arguments (the program name first, as in argv). A later
// --fault for the same inverter replaces the earlier one.
SimOptionsResult parseSimOptions(const QStringList &arguments);

// The text of --help, including the exact meaning of every fault mode.
QString simHelpText();
