#include "simoptions.h"

#include <QCommandLineParser>

namespace {
bool readNumber(const QString &text, double min, double max, double *out)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !(v >= min && v <= max))
        return false;
    *out = v;
    return true;
}
} // namespace

QString simHelpText()
{
    return QStringLiteral(
        "Usage: brelvon-sim [options]\n"
        "\n"
        "A simulated PV plant on this machine: six inverters and one LED panel, each\n"
        "listening on 127.0.0.1 only. The inverters answer the monitor's four requests\n"
        "(status, power parameters, daily energy, total energy) with values of a\n"
        "compressed solar day; the panel prints one line per update it receives.\n"
        "\n"
        "Options:\n"
        "  --base-port P      inverters 1..6 on ports P..P+5, the panel on P+6; all seven\n"
        "                     must be free. P = 0: each gets a free port of the kernel's\n"
        "                     choice. Default: the first seven consecutive free ports\n"
        "                     from 47001 on (in steps of 7); when none are found below\n"
        "                     48001, free ports of the kernel's choice.\n"
        "  --day-length S     real seconds per simulated day, 10..864000 (default 600:\n"
        "                     a day in ten minutes; 86400 runs in real time)\n"
        "  --start-hour H     simulated time of day at start, 0..23.99 (default 7)\n"
        "  --clouds C         cloudiness 0 (clear sky) to 1 (passing clouds, default)\n"
        "  --seed N           seed of the clouds and of the random fault bytes (default 1)\n"
        "  --write-ini PATH   once all listeners are up, write param.ini for the monitor\n"
        "                     at PATH (names, 127.0.0.1 and the ports); written whole or\n"
        "                     not at all, so a script may wait for the file to appear\n"
        "  --auto-read        the written param.ini also starts the monitor with\n"
        "                     Auto-Read ticked ([Monitor] AutoRead=1)\n"
        "  --fault n=MODE     let inverter n (1..6) misbehave; may be repeated, a later\n"
        "                     one for the same inverter wins (MODEs below)\n"
        "  --quiet            print only the ports and the panel lines\n"
        "  --verbose          also print every request and the size of its answer\n"
        "  --exit-with-stdin  end when standard input reaches end of file\n"
        "  -h, --help         this text\n"
        "\n"
        "Fault modes (S seconds, fractions allowed; MS milliseconds):\n"
        "  none               behaves well (default)\n"
        "  refuse             nothing listens on its port: connections are refused\n"
        "  close[:S]          closes gracefully (FIN) S s after each accept (default 15)\n"
        "  reset[:S]          closes abortively (SO_LINGER 0, RST) S s after each accept\n"
        "                     (default 20)\n"
        "  late[:MS]          sends each answer MS ms after its request (default 1500)\n"
        "  split[:MS]         sends each answer in two halves, MS ms apart (default 100)\n"
        "  coalesce           holds each answer until the next is due and sends the two\n"
        "                     in one piece\n"
        "  silent             accepts and reads, never answers\n"
        "  garbage            answers with 1..120 random bytes, never the right length\n"
        "  flood[:KIBPS]      sends random bytes unasked, about KIBPS KiB/s (default\n"
        "                     1024); requests are still answered within the stream\n"
        "  blob[:S]           sends 200 random bytes unasked every S s (default 5)\n"
        "\n"
        "Each inverter serves one client at a time: a new connection replaces the one\n"
        "before, which is closed gracefully. The simulator ends cleanly on SIGINT or\n"
        "SIGTERM, when the process that started it ends (Linux PR_SET_PDEATHSIG), and\n"
        "with --exit-with-stdin when its standard input is closed.\n"
        "\n"
        "Example: brelvon-sim --write-ini build/param.ini --fault 3=reset:20 --fault 5=late:1500\n");
}

SimOptionsResult parseSimOptions(const QStringList &arguments)
{
    SimOptionsResult result;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption basePort(QStringLiteral("base-port"), QString(), QStringLiteral("P"));
    const QCommandLineOption dayLength(QStringLiteral("day-length"), QString(), QStringLiteral("S"));
    const QCommandLineOption startHour(QStringLiteral("start-hour"), QString(), QStringLiteral("H"));
    const QCommandLineOption clouds(QStringLiteral("clouds"), QString(), QStringLiteral("C"));
    const QCommandLineOption seed(QStringLiteral("seed"), QString(), QStringLiteral("N"));
    const QCommandLineOption writeIni(QStringLiteral("write-ini"), QString(), QStringLiteral("PATH"));
    const QCommandLineOption autoRead(QStringLiteral("auto-read"));
    const QCommandLineOption fault(QStringLiteral("fault"), QString(), QStringLiteral("n=MODE"));
    const QCommandLineOption quiet(QStringLiteral("quiet"));
    const QCommandLineOption verbose(QStringLiteral("verbose"));
    const QCommandLineOption exitWithStdin(QStringLiteral("exit-with-stdin"));
    parser.addOptions({help, basePort, dayLength, startHour, clouds, seed, writeIni, autoRead, fault, quiet,
                       verbose, exitWithStdin});

    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
        return result;
    }
    if (parser.isSet(help)) {
        result.helpRequested = true;
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.error = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return result;
    }

    SimOptions o;
    double v = 0;
    if (parser.isSet(basePort)) {
        if (!readNumber(parser.value(basePort), 0, 65535 - 6, &v) || v != double(qint64(v))) {
            result.error = QStringLiteral("--base-port must be a whole number from 0 to 65529");
            return result;
        }
        o.basePort = quint16(v);
    }
    if (parser.isSet(dayLength)) {
        if (!readNumber(parser.value(dayLength), 10, 864000, &o.dayLength)) {
            result.error = QStringLiteral("--day-length must be a number of seconds from 10 to 864000");
            return result;
        }
    }
    if (parser.isSet(startHour)) {
        if (!readNumber(parser.value(startHour), 0, 24, &o.startHour) || o.startHour >= 24) {
            result.error = QStringLiteral("--start-hour must be a number from 0 to below 24");
            return result;
        }
    }
    if (parser.isSet(clouds)) {
        if (!readNumber(parser.value(clouds), 0, 1, &o.cloudiness)) {
            result.error = QStringLiteral("--clouds must be a number from 0 to 1");
            return result;
        }
    }
    if (parser.isSet(seed)) {
        bool ok = false;
        o.seed = parser.value(seed).trimmed().toUInt(&ok);
        if (!ok) {
            result.error = QStringLiteral("--seed must be a whole number from 0 to 4294967295");
            return result;
        }
    }
    for (const QString &text : parser.values(fault)) {
        QString error;
        const auto assignment = parseFaultAssignment(text, &error);
        if (!assignment) {
            result.error = error;
            return result;
        }
        o.faults[assignment->slot] = assignment->mode;
    }
    o.iniPath = parser.value(writeIni);
    o.autoRead = parser.isSet(autoRead);
    o.quiet = parser.isSet(quiet);
    o.verbose = parser.isSet(verbose) && !o.quiet;
    o.exitWithStdin = parser.isSet(exitWithStdin);
    if (parser.isSet(writeIni) && o.iniPath.isEmpty()) {
        result.error = QStringLiteral("--write-ini needs a path");
        return result;
    }
    result.options = o;
    return result;
}
