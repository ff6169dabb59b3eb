// Benchmark of the monitor against the simulated plant. Prints figures and
// never asserts; not run by ctest. See `bench_monitor help` and
// bench/run-bench.sh.
//
// The monitor window always runs in a child process (this program started
// again with the hidden sub-command "monitor-child"), so that the CPU time,
// memory and descriptors measured are the monitor's alone; the simulated
// plant and the small fault peers run in the parent.

#include "benchanswers.h"
#include "benchchild.h"
#include "benchpeers.h"

#include "simplant.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstring>
#include <optional>

namespace {

// ---------------------------------------------------------------------------
// The fault cases; each misbehaviour is given to inverter 1, the first one
// an Auto-Read cycle asks, while inverters 2..6 and the panel behave.

enum class Peer { None, MidAnswerClose, Drip, Garbage1MiB, AcceptClose, Stalled, BadHost };

struct FaultCase {
    const char *name;
    const char *label;
    const char *simFault; // the simulated inverter's mode, or nullptr
    Peer peer;
    bool exhaustFds;
};

const FaultCase kCases[] = {
    {"none", "Auto-Read cycle, no fault", nullptr, Peer::None, false},
    {"refuse", "refused (sim refuse)", "refuse", Peer::None, false},
    {"silent", "accepted then silent (sim silent)", "silent", Peer::None, false},
    {"close", "graceful close 1 s after accept (sim close:1)", "close:1", Peer::None, false},
    {"reset", "reset 1 s after accept (sim reset:1)", "reset:1", Peer::None, false},
    {"midclose", "peer closes in the middle of an answer", nullptr, Peer::MidAnswerClose, false},
    {"drip", "answers dripped, 1 byte per 5 ms", nullptr, Peer::Drip, false},
    {"split", "answers in two parts 100 ms apart (sim split:100)", "split:100", Peer::None, false},
    {"late", "answers 1.5 s late (sim late:1500)", "late:1500", Peer::None, false},
    {"coalesce", "two answers coalesced (sim coalesce)", "coalesce", Peer::None, false},
    {"garbage", "garbage answers of 1..120 bytes (sim garbage)", "garbage", Peer::None, false},
    {"garbage1m", "1 MiB of garbage for every request", nullptr, Peer::Garbage1MiB, false},
    {"flood", "unasked stream of 1 MiB/s (sim flood:1024)", "flood:1024", Peer::None, false},
    {"blob", "200-byte blob every second (sim blob:1)", "blob:1", Peer::None, false},
    {"badhost", "unresolvable host (invalid name, no lookup)", nullptr, Peer::BadHost, false},
    {"acceptclose", "accept-and-close repeatedly", nullptr, Peer::AcceptClose, false},
    {"stalled", "connection attempt that never completes", nullptr, Peer::Stalled, false},
    {"fdexhaust", "descriptors exhausted (sim close:1 forces reconnects)", "close:1", Peer::None, true},
};

constexpr int QuickLatencyWindowMs = 3500; // inverter 1's part of a cycle, with its panel update
constexpr double GoalP99 = 5, GoalMax = 16, EarlierGoalP99 = 20;

using Words = QMap<QString, QString>;

struct LatencyRow {
    QString label;
    Words w;
    bool ok = false;
};
struct CpuRow {
    QString label;
    Words w;
    double goalPercent = 0;
    bool ok = false;
};

struct Results {
    QList<LatencyRow> latency;
    QList<CpuRow> cpu;
    std::optional<Words> soak;
    QList<AnswerCost> answers;
    QString callgrindNote;
    QString loadStart;
};

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    const QList<QByteArray> parts = f.readAll().split(' ');
    return QString::fromLatin1(parts.mid(0, 3).join(' '));
}

void say(const QString &line)
{
    std::fprintf(stderr, "%s\n", qPrintable(line));
}

// Runs this program as "monitor-child" with args while the event loop (and
// so the simulated plant) goes on; returns the key=value words it printed.
Words runChild(const QStringList &args, int timeoutMs)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("monitor-child")} + args);
    QEventLoop loop;
    QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&child, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (child.state() != QProcess::NotRunning)
        loop.exec();
    Words words;
    if (child.state() != QProcess::NotRunning) {
        child.kill();
        child.waitForFinished(5000);
        words[QStringLiteral("error")] = QStringLiteral("timed out");
    } else if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        words[QStringLiteral("error")] = QStringLiteral("child failed");
    }
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        for (const QByteArray &word : line.split(' ')) {
            const qsizetype eq = word.indexOf('=');
            if (eq > 0)
                words[QString::fromUtf8(word.left(eq))] = QString::fromUtf8(word.mid(eq + 1));
        }
    }
    if (words.contains(QStringLiteral("error")))
        say(QStringLiteral("monitor child: %1\n%2").arg(words[QStringLiteral("error")],
                                                          QString::fromLocal8Bit(child.readAllStandardError())));
    return words;
}

// param.ini for the monitor: host and port per inverter slot 1..6, then the panel.
QString writeIni(const QTemporaryDir &dir, const std::array<QString, 7> &hosts, const std::array<quint16, 7> &ports,
                 quint16 panelPort)
{
    QString ini = QStringLiteral("[Hosts]\n");
    for (int slot = 1; slot <= 6; ++slot)
        ini += QStringLiteral("Host%1Name=Inverter %1\nHost%1IP=%2\nHost%1Port=%3\n").arg(slot).arg(hosts[slot]).arg(ports[slot]);
    ini += QStringLiteral("[Panel]\nPanelIP=127.0.0.1\nPanelPort=%1\n").arg(panelPort);
    const QString path = dir.filePath(QStringLiteral("param.ini"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(ini.toUtf8());
    return path;
}

std::unique_ptr<SimPlant> startPlant(const std::array<const char *, 7> &faults)
{
    SimOptions options;
    options.basePort = 0;  // free ports of the kernel's choice
    options.startHour = 11; // the inverters feed in: every readout changes
    for (int slot = 1; slot <= 6; ++slot) {
        if (faults[slot]) {
            QString error;
            options.faults[slot] = *FaultMode::parse(QString::fromLatin1(faults[slot]), &error);
        }
    }
    auto plant = std::make_unique<SimPlant>(options);
    QString error;
    if (!plant->start(&error)) {
        say(QStringLiteral("the simulated plant did not start: ") + error);
        return nullptr;
    }
    return plant;
}

LatencyRow runLatencyCase(const FaultCase &c, bool quick)
{
    LatencyRow row;
    row.label = QLatin1String(c.label);
    std::array<const char *, 7> faults{};
    faults[1] = c.simFault;
    std::unique_ptr<SimPlant> plant = startPlant(faults);
    if (!plant)
        return row;
    std::array<QString, 7> hosts;
    std::array<quint16, 7> ports{};
    for (int slot = 1; slot <= 6; ++slot) {
        hosts[slot] = QStringLiteral("127.0.0.1");
        ports[slot] = plant->inverterPort(slot);
    }
    std::unique_ptr<ScriptedPeer> peer;
    StalledListener stalled;
    switch (c.peer) {
    case Peer::MidAnswerClose: peer = std::make_unique<ScriptedPeer>(ScriptedPeer::Kind::MidAnswerClose); break;
    case Peer::Drip: peer = std::make_unique<ScriptedPeer>(ScriptedPeer::Kind::Drip); break;
    case Peer::Garbage1MiB: peer = std::make_unique<ScriptedPeer>(ScriptedPeer::Kind::Garbage1MiB); break;
    case Peer::AcceptClose: peer = std::make_unique<ScriptedPeer>(ScriptedPeer::Kind::AcceptClose); break;
    case Peer::Stalled:
        if (!stalled.start())
            row.label += QStringLiteral(" [stall not achieved]");
        ports[1] = stalled.port();
        break;
    case Peer::BadHost: hosts[1] = QStringLiteral("no..such-host"); break;
    case Peer::None: break;
    }
    if (peer)
        ports[1] = peer->port();
    QTemporaryDir dir;
    const QString ini = writeIni(dir, hosts, ports, plant->panelPort());
    QStringList args{QStringLiteral("--mode"), QStringLiteral("latency"), QStringLiteral("--ini"), ini,
                     QStringLiteral("--window-ms"), QString::number(quick ? QuickLatencyWindowMs : 0)};
    if (c.exhaustFds)
        args << QStringLiteral("--exhaust-fds");
    row.w = runChild(args, quick ? 30000 : 150000);
    const double p99 = row.w.value(QStringLiteral("p99"), QStringLiteral("1e9")).toDouble();
    const double max = row.w.value(QStringLiteral("max"), QStringLiteral("1e9")).toDouble();
    row.ok = p99 <= GoalP99 && max <= GoalMax;
    return row;
}

CpuRow runCpuCase(bool peersDown, int windowMs)
{
    CpuRow row;
    row.goalPercent = peersDown ? 0.1 : 0.5;
    row.label = peersDown ? QStringLiteral("every peer down (refused), Auto-Read on")
                          : QStringLiteral("Auto-Read on, plant and panel up");
    std::unique_ptr<SimPlant> plant = startPlant({});
    if (!plant)
        return row;
    std::array<QString, 7> hosts;
    std::array<quint16, 7> ports{};
    for (int slot = 1; slot <= 6; ++slot) {
        hosts[slot] = QStringLiteral("127.0.0.1");
        ports[slot] = peersDown ? closedPort() : plant->inverterPort(slot);
    }
    const quint16 panel = peersDown ? closedPort() : plant->panelPort();
    if (peersDown)
        plant.reset();
    QTemporaryDir dir;
    const QString ini = writeIni(dir, hosts, ports, panel);
    row.w = runChild({QStringLiteral("--mode"), QStringLiteral("cpu"), QStringLiteral("--ini"), ini,
                      QStringLiteral("--window-ms"), QString::number(windowMs)},
                     windowMs + 60000);
    const double cpu = row.w.value(QStringLiteral("cpu_ms"), QStringLiteral("1e9")).toDouble();
    const double wall = row.w.value(QStringLiteral("wall_ms"), QStringLiteral("1")).toDouble();
    row.ok = cpu / wall * 100.0 <= row.goalPercent;
    return row;
}

Words runSoak(int cycles, int warmup)
{
    // Every way to fail at once, one per inverter slot.
    std::array<const char *, 7> faults{};
    faults[4] = "close:0.05";
    faults[5] = "reset:0.05";
    std::unique_ptr<SimPlant> plant = startPlant(faults);
    if (!plant)
        return {{QStringLiteral("error"), QStringLiteral("no plant")}};
    ScriptedPeer acceptClose(ScriptedPeer::Kind::AcceptClose);
    ScriptedPeer acceptReset(ScriptedPeer::Kind::AcceptReset);
    StalledListener stalled;
    stalled.start();
    std::array<QString, 7> hosts;
    hosts.fill(QStringLiteral("127.0.0.1"));
    const std::array<quint16, 7> ports{0, closedPort(), acceptClose.port(), acceptReset.port(),
                                       plant->inverterPort(4), plant->inverterPort(5), stalled.port()};
    QTemporaryDir dir;
    const QString ini = writeIni(dir, hosts, ports, plant->panelPort());
    return runChild({QStringLiteral("--mode"), QStringLiteral("soak"), QStringLiteral("--ini"), ini,
                     QStringLiteral("--cycles"), QString::number(cycles), QStringLiteral("--warmup"),
                     QString::number(warmup)},
                    900000);
}

// ---------------------------------------------------------------------------
// Printing

QString col(const QString &text, int width)
{
    return text.leftJustified(width);
}

void printLatencyHeader()
{
    std::printf("%s\n", qPrintable(col(QStringLiteral("case"), 54) + QStringLiteral(
                                       " samples     p50     p99     max   >5ms >16ms  goal met?   p99*    max*  link events (conn/closed/err/data)")));
}

void printLatencyRow(const LatencyRow &r)
{
    const Words &w = r.w;
    QString goal = w.contains(QStringLiteral("p99")) ? (r.ok ? QStringLiteral("yes") : QStringLiteral("NO"))
                                                     : QStringLiteral("n/a");
    if (w.contains(QStringLiteral("p99")) && !r.ok && w[QStringLiteral("p99")].toDouble() <= EarlierGoalP99)
        goal += QStringLiteral(" (p99<20)");
    const double cycleMs = w.value(QStringLiteral("cycle_ms"), QStringLiteral("-1")).toDouble();
    const QString cycle = cycleMs > 0 ? QStringLiteral("  cycle %1 s").arg(cycleMs / 1000, 0, 'f', 1) : QString();
    const QString over5 = w.value(QStringLiteral("over5"), QStringLiteral("-"))
        + (w.value(QStringLiteral("over5_queued"), QStringLiteral("0")).toInt() > 0
               ? QStringLiteral("(%1q)").arg(w[QStringLiteral("over5_queued")])
               : QString());
    std::printf("%s %7s %7s %7s %7s %6s %5s  %-9s %7s %7s  %s/%s/%s/%s%s\n", qPrintable(col(r.label, 54)),
                qPrintable(w.value(QStringLiteral("samples"), QStringLiteral("-"))),
                qPrintable(w.value(QStringLiteral("p50"), QStringLiteral("-"))),
                qPrintable(w.value(QStringLiteral("p99"), QStringLiteral("-"))),
                qPrintable(w.value(QStringLiteral("max"), QStringLiteral("-"))),
                qPrintable(over5), qPrintable(w.value(QStringLiteral("over16"), QStringLiteral("-"))), qPrintable(goal),
                qPrintable(w.value(QStringLiteral("own_p99"), QStringLiteral("-"))),
                qPrintable(w.value(QStringLiteral("own_max"), QStringLiteral("-"))),
                qPrintable(w.value(QStringLiteral("connected"))), qPrintable(w.value(QStringLiteral("closes"))),
                qPrintable(w.value(QStringLiteral("errors"))), qPrintable(w.value(QStringLiteral("data_events"))),
                qPrintable(cycle));
    std::fflush(stdout);
}

void printCpuRow(const CpuRow &r)
{
    const double cpu = r.w.value(QStringLiteral("cpu_ms"), QStringLiteral("-1")).toDouble();
    const double wall = r.w.value(QStringLiteral("wall_ms"), QStringLiteral("0")).toDouble();
    if (wall <= 0) {
        std::printf("%s  no figure\n", qPrintable(col(r.label, 44)));
        return;
    }
    const double perMinute = cpu / wall * 60000.0;
    std::printf("%s  %7.1f s window  user %7.1f ms  sys %7.1f ms  = %7.1f ms CPU per minute = %6.3f %% of a core"
                "  (goal <= %.1f %%: %s)\n",
                qPrintable(col(r.label, 44)), wall / 1000.0, r.w.value(QStringLiteral("user_ms")).toDouble(),
                r.w.value(QStringLiteral("sys_ms")).toDouble(), perMinute, perMinute / 600.0, r.goalPercent,
                r.ok ? "yes" : "NO");
    std::fflush(stdout);
}

void printAnswers(const QList<AnswerCost> &costs, const QString &note)
{
    if (costs.isEmpty()) {
        std::printf("  %s\n", qPrintable(note));
        return;
    }
    std::printf("%s %12s %12s %12s  (instructions per answer, callgrind Ir)\n",
                qPrintable(col(QStringLiteral("answer kind"), 54)), "handler", "repaint", "whole path");
    for (const AnswerKind &kind : kAnswerKinds) {
        QString line = col(QLatin1String(kind.label), 54);
        for (const char *part : kAnswerParts) {
            QString figure = QStringLiteral("-");
            for (const AnswerCost &c : costs) {
                if (c.kind == QLatin1String(kind.name) && c.part == QLatin1String(part))
                    figure = QString::number(qRound64(c.instructionsPerAnswer));
            }
            line += QLatin1Char(' ') + figure.rightJustified(12);
        }
        std::printf("%s\n", qPrintable(line));
    }
    if (!note.isEmpty())
        std::printf("  %s\n", qPrintable(note));
}

void printSoak(const Words &w)
{
    if (w.contains(QStringLiteral("error")) && !w.contains(QStringLiteral("after_rss_kib"))) {
        std::printf("soak: %s\n", qPrintable(w[QStringLiteral("error")]));
        return;
    }
    const double before = w.value(QStringLiteral("before_rss_kib")).toDouble();
    const double after = w.value(QStringLiteral("after_rss_kib")).toDouble();
    const double beforeT = w.value(QStringLiteral("before_rss_trimmed_kib")).toDouble();
    const double afterT = w.value(QStringLiteral("after_rss_trimmed_kib")).toDouble();
    const int fdsBefore = w.value(QStringLiteral("before_fds")).toInt();
    const int fdsAfter = w.value(QStringLiteral("after_fds")).toInt();
    std::printf("cycles: %s in %.1f s after a warm-up of %s (per slot 1..6: refused %s, accept-close %s, accept-reset %s, sim close:0.05 %s, "
                "sim reset:0.05 %s, never-completing connect %s)\n",
                qPrintable(w.value(QStringLiteral("soak_cycles"))), w.value(QStringLiteral("soak_ms")).toDouble() / 1000,
                qPrintable(w.value(QStringLiteral("before_cycles"))),
                qPrintable(w.value(QStringLiteral("slot1_cycles"))), qPrintable(w.value(QStringLiteral("slot2_cycles"))),
                qPrintable(w.value(QStringLiteral("slot3_cycles"))), qPrintable(w.value(QStringLiteral("slot4_cycles"))),
                qPrintable(w.value(QStringLiteral("slot5_cycles"))), qPrintable(w.value(QStringLiteral("slot6_cycles"))));
    std::printf("reading                        log lines cleared    RSS KiB   RSS KiB after malloc_trim   open fds\n");
    for (const char *phase : {"start", "before", "after"}) {
        const QString p = QLatin1String(phase);
        std::printf("%-30s %17s %10s   %25s   %8s\n",
                    phase == QByteArray("start") ? "at start (no cycles)"
                    : phase == QByteArray("before") ? "before soak (after warm-up)" : "after soak",
                    qPrintable(w.value(p + QStringLiteral("_log_lines"))), qPrintable(w.value(p + QStringLiteral("_rss_kib"))),
                    qPrintable(w.value(p + QStringLiteral("_rss_trimmed_kib"))),
                    qPrintable(w.value(p + QStringLiteral("_fds"))));
    }
    std::printf("growth: RSS %+.0f KiB (goal <= 1024 KiB: %s); after malloc_trim %+.0f KiB (%s); fds %d -> %d, back to "
                "baseline: %s\n",
                after - before, after - before <= 1024 ? "yes" : "NO", afterT - beforeT,
                afterT - beforeT <= 1024 ? "yes" : "NO", fdsBefore, fdsAfter, fdsAfter == fdsBefore ? "yes" : "NO");
    std::printf("  (RSS as the system sees it keeps the heap pages the cleared log used, which glibc does not hand back\n"
                "   by itself; the malloc_trim column is the memory still in use)\n");
}

void printSection(const char *title)
{
    std::printf("\n== %s\n", title);
}

void printFinalTable(const Results &r, bool quick)
{
    std::printf("\n================ Brelvon monitor benchmark%s ================\n", quick ? " (quick)" : "");
    std::printf("machine: %d cores, shared with other builds; load average at start %s, at end %s\n",
                QThread::idealThreadCount(), qPrintable(r.loadStart), qPrintable(loadAverage()));
    if (!r.latency.isEmpty()) {
        printSection(quick ? "Event-loop lateness of a 10 ms precise probe timer, ms (product durations; window: "
                             "connection attempt + inverter 1's part of an Auto-Read cycle, 3.5 s)"
                           : "Event-loop lateness of a 10 ms precise probe timer, ms (product durations; window: "
                             "connection attempt + one whole Auto-Read cycle)");
        std::printf("goal: p99 <= %.0f ms and max <= %.0f ms (earlier goal: p99 < %.0f ms)\n", GoalP99, GoalMax, EarlierGoalP99);
        std::printf("p99*, max*: each sample capped at the CPU time the monitor's thread used while it waited: the part "
                    "of the lateness its own work accounts for; the rest was waiting for a core or blocked.\n"
                    ">5ms: samples over 5 ms; (Nq): N of them spent at least half their lateness queued for a core\n");
        printLatencyHeader();
        for (const LatencyRow &row : r.latency)
            printLatencyRow(row);
    }
    if (!r.cpu.isEmpty()) {
        printSection("CPU of the monitor process alone (user + system), probe timer off");
        for (const CpuRow &row : r.cpu)
            printCpuRow(row);
    }
    printSection("Instructions per handled answer (slot 1, Auto-Read quiet log, offscreen window)");
    printAnswers(r.answers, r.callgrindNote);
    if (r.soak) {
        printSection("Compressed soak of connect/fail/reconnect cycles (durations shortened; links closed and "
                     "log cleared before each reading)");
        printSoak(*r.soak);
    }
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// Command line

QString option(const QStringList &args, const QString &name, const QString &fallback = {})
{
    const qsizetype i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
}

void help()
{
    std::printf(
        "usage: bench_monitor COMMAND [options]\n"
        "  latency [--fault NAME|all] [--quick]   probe-timer lateness during an Auto-Read cycle / a fault\n"
        "  cpu [--minutes M] [--case autoread|down|both]\n"
        "                                         CPU of the monitor process per minute\n"
        "  soak [--cycles N] [--warmup N]         RSS and descriptors around N connect/fail/reconnect cycles\n"
        "  answers [--count N]                    runs N answers of each kind through the window's handler;\n"
        "                                         run it under valgrind --tool=callgrind --collect-atstart=no\n"
        "                                         --instr-atstart=no (see run-bench.sh); prints ns otherwise\n"
        "  callgrind-report FILE                  instructions per answer from the dump parts FILE, FILE.1, ...\n"
        "  all [--quick] [--cpu-minutes M] [--callgrind FILE] [--soak-cycles N]\n"
        "                                         everything, then the table\n"
        "fault names:");
    for (const FaultCase &c : kCases)
        std::printf(" %s", c.name);
    std::printf("\n");
}

int runDriver(const QString &command, const QStringList &args)
{
    Results r;
    r.loadStart = loadAverage();
    const bool quick = args.contains(QStringLiteral("--quick"));
    const bool all = command == QLatin1String("all");

    if (all || command == QLatin1String("latency")) {
        const QString fault = option(args, QStringLiteral("--fault"), QStringLiteral("all"));
        for (const FaultCase &c : kCases) {
            if (fault != QLatin1String("all") && fault != QLatin1String(c.name))
                continue;
            say(QStringLiteral("latency: %1 ...").arg(QLatin1String(c.name)));
            r.latency.append(runLatencyCase(c, quick));
        }
        if (r.latency.isEmpty()) {
            help();
            return 2;
        }
    }
    if (all || command == QLatin1String("cpu")) {
        const double minutes = option(args, all ? QStringLiteral("--cpu-minutes") : QStringLiteral("--minutes"),
                                      QStringLiteral("1")).toDouble();
        // Quick: about one period of Auto-Read (10 s wait + a cycle of about
        // 17 s), and two connection ticks and a cycle with every peer down.
        const int autoMs = quick ? 30000 : int(minutes * 60000);
        const int downMs = quick ? 23000 : int(minutes * 60000);
        const QString which = option(args, QStringLiteral("--case"), QStringLiteral("both"));
        if (which != QLatin1String("down")) {
            say(QStringLiteral("cpu: Auto-Read on, %1 s ...").arg(autoMs / 1000));
            r.cpu.append(runCpuCase(false, autoMs));
        }
        if (which != QLatin1String("autoread")) {
            say(QStringLiteral("cpu: every peer down, %1 s ...").arg(downMs / 1000));
            r.cpu.append(runCpuCase(true, downMs));
        }
    }
    if (all || command == QLatin1String("soak")) {
        const int cycles = option(args, all ? QStringLiteral("--soak-cycles") : QStringLiteral("--cycles"),
                                  QStringLiteral("10000")).toInt();
        const int warmup = option(args, QStringLiteral("--warmup"), QStringLiteral("500")).toInt();
        say(QStringLiteral("soak: %1 cycles ...").arg(cycles));
        r.soak = runSoak(cycles, warmup);
    }
    const QString callgrindFile = option(args, QStringLiteral("--callgrind"));
    if (!callgrindFile.isEmpty()) {
        r.answers = readCallgrindParts(callgrindFile);
        if (r.answers.isEmpty())
            r.callgrindNote = QStringLiteral("no callgrind dump parts found at ") + callgrindFile;
        else
            r.callgrindNote = QStringLiteral("%1 answers per kind and part; handler = TCPDataAvailable (decode, "
                                             "readouts, totals; for total energy also the three panel sends and "
                                             "the event passes of their pauses, idle time left out); repaint = the "
                                             "event pass after it; whole path = socket readable -> link -> handler "
                                             "-> repaint")
                                  .arg(r.answers.first().count);
    } else {
        r.callgrindNote = QStringLiteral("not measured in this run: see run-bench.sh (valgrind --tool=callgrind "
                                         "bench_monitor answers, then --callgrind FILE)");
    }
    printFinalTable(r, quick);
    return 0;
}

int runChildCommand(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    prepareApplication();
    ChildOptions o;
    o.mode = option(args, QStringLiteral("--mode"));
    o.ini = option(args, QStringLiteral("--ini"));
    o.windowMs = option(args, QStringLiteral("--window-ms"), QStringLiteral("0")).toInt();
    o.exhaustFds = args.contains(QStringLiteral("--exhaust-fds"));
    o.cycles = option(args, QStringLiteral("--cycles"), QStringLiteral("10000")).toInt();
    o.warmup = option(args, QStringLiteral("--warmup"), QStringLiteral("500")).toInt();
    if (o.mode == QLatin1String("soak"))
        return runMonitorSoak(o);
    return runMonitorLatencyOrCpu(o);
}

} // namespace

int main(int argc, char **argv)
{
    const QByteArray command = argc > 1 ? QByteArray(argv[1]) : QByteArray("help");
    if (command == "monitor-child")
        return runChildCommand(argc, argv);
    if (command == "answers") {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return runAnswers(option(app.arguments(), QStringLiteral("--count"), QStringLiteral("200")).toInt());
    }
    if (command == "callgrind-report") {
        if (argc < 3) {
            help();
            return 2;
        }
        Results r;
        r.answers = readCallgrindParts(QString::fromLocal8Bit(argv[2]));
        printAnswers(r.answers, r.answers.isEmpty() ? QStringLiteral("no dump parts found") : QString());
        return 0;
    }
    if (command == "latency" || command == "cpu" || command == "soak" || command == "all") {
        QCoreApplication app(argc, argv);
        return runDriver(QString::fromLatin1(command), app.arguments());
    }
    help();
    return command == "help" || command == "--help" ? 0 : 2;
}
