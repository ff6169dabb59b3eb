// The simulated plant over real sockets on 127.0.0.1: its answers and fault
// modes against raw clients, the LED panel, param.ini and the ways the
// executable ends.

#include "answers.h"
#include "config/plantconfig.h"
#include "faultmode.h"
#include "panellistener.h"
#include "plantmodel.h"
#include "protocol/replies.h"
#include "protocol/requestframe.h"
#include "simoptions.h"
#include "simplant.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <functional>

Q_DECLARE_METATYPE(FaultMode)
Q_DECLARE_METATYPE(Command)


namespace {

// Handles events until done() holds or the time is up.
bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}


// A plain non-blocking POSIX client: unlike QTcpSocket it tells a graceful
// close (EOF) from a reset (ECONNRESET) and shows how the bytes came in.
struct RawClient {
    int fd = -1;
    QList<QByteArray> reads; // one entry per recv that returned data
    bool eof = false;
    int error = 0;

    ~RawClient()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // 0 when connected, else the errno of connect.
    int connectTo(quint16 port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            return errno;
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
        return 0;
    }
    void send(const QByteArray &bytes) { ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL); }
    void send(Command command)
    {
        const RequestFrameBytes frame = requestFrame(command);
        ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    }
    void drain()
    {
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n > 0) {
                reads.append(QByteArray(buf, n));
                continue;
            }
            if (n == 0)
                eof = true;
            else if (errno != EAGAIN && errno != EWOULDBLOCK)
                error = errno;
            return;
        }
    }
    QByteArray all() const { return reads.join(); }
    // Drains and handles events until done() holds or the time is up.
    bool waitUntil(const std::function<bool()> &done, int timeoutMs)
    {
        return waitFor([&] { drain(); return done(); }, timeoutMs);
    }
};


// A plant on kernel-chosen ports whose clock hardly moves during a test
// (one simulated day in ten real days).
std::unique_ptr<SimPlant> startPlant(int slot = 1, FaultMode fault = {})
{
    SimOptions o;
    o.basePort = 0;
    o.dayLength = 864000;
    o.startHour = 11;
    o.faults[slot] = fault;
    auto plant = std::make_unique<SimPlant>(o);
    QString error;
    return plant->start(&error) ? std::move(plant) : nullptr;
}


const quint8 *bytes(const QByteArray &a)
{
    return reinterpret_cast<const quint8 *>(a.constData());
}


long dcTotal(const PowerParameters &p)
{
    return long(p[PowerParameters::DcInput1].rawPower) + p[PowerParameters::DcInput2].rawPower
           + p[PowerParameters::DcInput3].rawPower;
}


QString simBinary()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/sim/brelvon-sim");
}

} // namespace

class TestSimPeers : public QObject {
    Q_OBJECT

private slots:
    // Over sockets
    void answersOverSocket();
    void newClientReplacesOld();
    void junkIsSkipped();
    void refuse();
    void closeAndReset_data();
    void closeAndReset();
    void late();
    void split();
    void coalesce();
    void silent();
    void garbage();
    void flood();
    void blob();
    // LED panel
    void panelDisplay_data();
    void panelDisplay();
    void panelOverSocket();
    // param.ini and the executable
    void iniMatchesPorts();
    void executableEnds_data();
    void executableEnds();
    void endsWithItsParent();
};

void TestSimPeers::answersOverSocket()
{
    const auto plant = startPlant();
    QVERIFY(plant);
    RawClient c;
    QCOMPARE(c.connectTo(plant->inverterPort(2)), 0);
    for (const Command cmd : {Command::Status, Command::PowerParameters, Command::DailyEnergy,
                              Command::TotalEnergy}) {
        c.reads.clear();
        c.send(cmd);
        const int size = expectedReplySize(cmd);
        QVERIFY(c.waitUntil([&] { return c.all().size() >= size; }, 2000));
        QCOMPARE(c.reads.size(), 1);
        QCOMPARE(c.all().size(), size);
        const InverterReading r = plant->model().reading(2);
        const quint8 *a = bytes(c.reads.first());
        if (cmd == Command::Status)
            QCOMPARE(decodeStatusCode(a), quint8(r.state));
        if (cmd == Command::DailyEnergy)
            QCOMPARE(decodeEnergy(a), r.dailyWh);
        if (cmd == Command::TotalEnergy)
            QCOMPARE(decodeEnergy(a), r.totalWh);
        if (cmd == Command::PowerParameters) {
            const PowerParameters p = decodePowerParameters(a);
            QVERIFY(std::abs(dcTotal(p) - dcTotal(r.power)) <= 3); // the clock moved a few ms
            QVERIFY(dcTotal(p) > 1000);
        }
    }
}

void TestSimPeers::newClientReplacesOld()
{
    const auto plant = startPlant();
    QVERIFY(plant);
    RawClient first, second;
    QCOMPARE(first.connectTo(plant->inverterPort(1)), 0);
    QTRY_COMPARE(plant->inverter(1)->acceptedCount(), 1);
    QCOMPARE(second.connectTo(plant->inverterPort(1)), 0);
    QVERIFY(first.waitUntil([&] { return first.eof; }, 2000));
    QCOMPARE(first.error, 0); // closed gracefully, not reset
    second.send(Command::Status);
    QVERIFY(second.waitUntil([&] { return second.all().size() == StatusReplySize; }, 2000));
}

void TestSimPeers::junkIsSkipped()
{
    const auto plant = startPlant();
    QVERIFY(plant);
    RawClient c;
    QCOMPARE(c.connectTo(plant->inverterPort(4)), 0);
    QByteArray junk(256 * 1024, '\0');
    for (qsizetype i = 0; i < junk.size(); ++i)
        junk[i] = char(i * 7 + 0x62);
    c.send(junk);
    c.send(Command::DailyEnergy);
    QVERIFY(c.waitUntil([&] { return c.all().size() >= EnergyReplySize; }, 3000));
    QTest::qWait(50);
    c.drain();
    QCOMPARE(c.all().size(), EnergyReplySize);
}

void TestSimPeers::refuse()
{
    const auto plant = startPlant(5, {FaultMode::Refuse, 0});
    QVERIFY(plant);
    QVERIFY(plant->inverterPort(5) != 0);
    RawClient c;
    QCOMPARE(c.connectTo(plant->inverterPort(5)), ECONNREFUSED);
    RawClient other; // the others are unaffected
    QCOMPARE(other.connectTo(plant->inverterPort(4)), 0);
}

void TestSimPeers::closeAndReset_data()
{
    QTest::addColumn<FaultMode>("fault");
    QTest::addColumn<int>("expectedError");
    QTest::newRow("close:0.3 -> FIN") << FaultMode{FaultMode::Close, 300} << 0;
    QTest::newRow("reset:0.3 -> RST") << FaultMode{FaultMode::Reset, 300} << ECONNRESET;
}

void TestSimPeers::closeAndReset()
{
    QFETCH(FaultMode, fault);
    QFETCH(int, expectedError);
    const auto plant = startPlant(1, fault);
    QVERIFY(plant);
    RawClient c;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(c.connectTo(plant->inverterPort(1)), 0);
    c.send(Command::Status); // answered normally until then
    QVERIFY(c.waitUntil([&] { return c.eof || c.error; }, 3000));
    QVERIFY(clock.elapsed() >= fault.value - 20);
    QCOMPARE(c.all().size(), StatusReplySize);
    QCOMPARE(c.error, expectedError);
    QCOMPARE(c.eof, expectedError == 0);
}

void TestSimPeers::late()
{
    const auto plant = startPlant(1, {FaultMode::Late, 400});
    QVERIFY(plant);
    RawClient c;
    QCOMPARE(c.connectTo(plant->inverterPort(1)), 0);
    QElapsedTimer clock;
    clock.start();
    c.send(Command::Status);
    QVERIFY(c.waitUntil([&] { return !c.reads.isEmpty(); }, 3000));
    QVERIFY2(clock.elapsed() >= 400, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(c.all().size(), StatusReplySize);
}

void TestSimPeers::split()
{
    const auto plant = startPlant(1, {FaultMode::Split, 300});
    QVERIFY(plant);
    RawClient c;
    QCOMPARE(c.connectTo(plant->inverterPort(1)), 0);
    c.send(Command::PowerParameters);
    QVERIFY(c.waitUntil([&] { return c.all().size() >= PowerReplySize; }, 3000));
    QCOMPARE(c.reads.size(), 2);
    QCOMPARE(c.reads[0].size(), PowerReplySize / 2);
    QVERIFY(decodePowerParameters(bytes(c.all())).inverterPowerKw() > 1);
}

void TestSimPeers::coalesce()
{
    const auto plant = startPlant(1, {FaultMode::Coalesce, 0});
    QVERIFY(plant);
    RawClient c;
    QCOMPARE(c.connectTo(plant->inverterPort(1)), 0);
    c.send(Command::Status);
    QVERIFY(!c.waitUntil([&] { return !c.reads.isEmpty(); }, 300)); // held
    c.send(Command::TotalEnergy);
    QVERIFY(c.waitUntil([&] { return !c.reads.isEmpty(); }, 2000));
    QCOMPARE(c.reads.size(), 1);
    QCOMPARE(c.reads[0].size(), StatusReplySize + EnergyReplySize);
    QCOMPARE(decodeEnergy(bytes(c.reads[0].mid(StatusReplySize))), plant->model().reading(1).totalWh);
}

void TestSimPeers::silent()
{
    const auto plant = startPlant(1, {FaultMode::Silent, 0});
    QVERIFY(plant);
    RawClient c;
    QCOMPARE(c.connectTo(plant->inverterPort(1)), 0);
    c.send(Command::Status);
    c.send(Command::TotalEnergy);
    QVERIFY(!c.waitUntil([&] { return !c.reads.isEmpty() || c.eof || c.error; }, 500));
    QVERIFY(plant->inverter(1)->hasClient());
}

void TestSimPeers::garbage()
{
    const auto plant = startPlant(1, {FaultMode::Garbage, 0});
    QVERIFY(plant);
    RawClient c;
    QCOMPARE(c.connectTo(plant->inverterPort(1)), 0);
    for (int round = 0; round < 3; ++round) {
        for (const Command cmd : {Command::Status, Command::PowerParameters, Command::DailyEnergy}) {
            c.reads.clear();
            c.send(cmd);
            QVERIFY(c.waitUntil([&] { return !c.reads.isEmpty(); }, 2000));
            QTest::qWait(30);
            c.drain();
            const qsizetype size = c.all().size();
            QVERIFY2(size >= 1 && size <= FaultMode::GarbageMaxLength && size != expectedReplySize(cmd),
                     qPrintable(QString::number(size)));
        }
    }
}

void TestSimPeers::flood()
{
    const auto plant = startPlant(1, {FaultMode::Flood, 64});
    QVERIFY(plant);
    RawClient c;
    QCOMPARE(c.connectTo(plant->inverterPort(1)), 0);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(c.waitUntil([&] { return clock.elapsed() >= 1000; }, 3000));
    // About 64 KiB in a second, unasked, and not unbounded.
    const qsizetype got = c.all().size();
    QVERIFY2(got > 20 * 1024 && got < 160 * 1024, qPrintable(QString::number(got)));
}

void TestSimPeers::blob()
{
    const auto plant = startPlant(1, {FaultMode::Blob, 150});
    QVERIFY(plant);
    RawClient c;
    QCOMPARE(c.connectTo(plant->inverterPort(1)), 0);
    QVERIFY(c.waitUntil([&] { return c.all().size() >= 2 * FaultMode::BlobSize; }, 2000));
    QCOMPARE(c.all().size() % FaultMode::BlobSize, 0);
}

void TestSimPeers::panelDisplay_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("lines");
    const auto line = [](const char *a, const char *b, const char *c) {
        return QStringLiteral("PANEL  Power %1 kW | Energy %2 MWh | CO2 %3 kg").arg(a, b, c);
    };
    QTest::newRow("one update") << QList<QByteArray>{"!A000123%", "!B000456%", "!C000078%"}
                                << QStringList{line("000123", "000456", "000078")};
    QTest::newRow("long figures") << QList<QByteArray>{"!A000510%!B-000001!C1000000"}
                                  << QStringList{line("000510", "-000001", "1000000")};
    QTest::newRow("split and junk") << QList<QByteArray>{"xx!A0", "00012%\x01!!", "!Z000000%!C0225", "00%"}
                                    << QStringList{line("000012", "------", "022500")};
    QTest::newRow("message cut by another") << QList<QByteArray>{"!A12!B000045%!C000001%"}
                                            << QStringList{line("------", "000045", "000001")};
    QTest::newRow("no C, no line") << QList<QByteArray>{"!A000001%!B000002%"} << QStringList{};
}

void TestSimPeers::panelDisplay()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, lines);
    PanelDisplay panel;
    QStringList got;
    for (const QByteArray &chunk : chunks)
        got += panel.feed(chunk);
    QCOMPARE(got, lines);
    panel.feed(QByteArray(1 << 20, '!'));
    QVERIFY(panel.pending() < 9);
}

void TestSimPeers::panelOverSocket()
{
    const auto plant = startPlant();
    QVERIFY(plant);
    QSignalSpy lines(plant.get(), &SimPlant::panelLine);
    RawClient c;
    QCOMPARE(c.connectTo(plant->panelPort()), 0);
    c.send("!A000012%");
    QTest::qWait(20);
    c.send("!B000045%!C0");
    QTest::qWait(20);
    c.send("22500%");
    QTRY_COMPARE(lines.size(), 1);
    QCOMPARE(lines[0][0].toString(), QStringLiteral("PANEL  Power 000012 kW | Energy 000045 MWh | CO2 022500 kg"));
}

void TestSimPeers::iniMatchesPorts()
{
    SimOptions o;
    o.basePort = 0;
    o.autoRead = true;
    SimPlant plant(o);
    QString error;
    QVERIFY2(plant.start(&error), qPrintable(error));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("param.ini"));
    QVERIFY2(plant.writeIni(path, &error), qPrintable(error));
    const PlantConfig config = PlantConfig::read(IniFile::fromFile(path)); // the monitor's own reader
    for (int slot = 1; slot <= 6; ++slot) {
        QCOMPARE(config.names[slot], defaultInverters()[slot - 1].name);
        QCOMPARE(config.hosts[slot], QStringLiteral("127.0.0.1"));
        QCOMPARE(config.ports[slot], plant.inverterPort(slot));
    }
    QCOMPARE(config.panelHost, QStringLiteral("127.0.0.1"));
    QCOMPARE(config.panelPort, plant.panelPort());
    QVERIFY(config.autoRead);
    QVERIFY(!plant.writeIni(dir.filePath(QStringLiteral("missing/param.ini")), &error));
}

void TestSimPeers::executableEnds_data()
{
    QTest::addColumn<int>("how"); // 0: stdin closed, else the signal
    QTest::newRow("stdin closed") << 0;
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestSimPeers::executableEnds()
{
    QFETCH(int, how);
    if (!QFile::exists(simBinary()))
        QSKIP("brelvon-sim is not built");
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("param.ini"));
    QProcess sim;
    sim.start(simBinary(), {"--base-port", "0", "--quiet", "--write-ini", ini, "--exit-with-stdin"});
    QVERIFY(sim.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(ini), 5000);
    // Written only once everything listens.
    const PlantConfig config = PlantConfig::read(IniFile::fromFile(ini));
    for (int slot = 1; slot <= 6; ++slot) {
        RawClient c;
        QCOMPARE(c.connectTo(config.ports[slot]), 0);
    }
    RawClient panel;
    QCOMPARE(panel.connectTo(config.panelPort), 0);

    if (how == 0)
        sim.closeWriteChannel();
    else
        ::kill(pid_t(sim.processId()), how);
    QVERIFY(sim.waitForFinished(3000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(sim.readAllStandardOutput().contains("brelvon-sim: stopped"));
}

void TestSimPeers::endsWithItsParent()
{
    if (!QFile::exists(simBinary()))
        QSKIP("brelvon-sim is not built");
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("param.ini"));
    QProcess shell; // the parent of the simulator; it prints the simulator's pid
    shell.start(QStringLiteral("/bin/sh"),
                {"-c", "\"$0\" --base-port 0 --quiet --write-ini \"$1\" >/dev/null & echo $!; wait", simBinary(), ini});
    QVERIFY(shell.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(shell.canReadLine(), 5000);
    const pid_t simPid = pid_t(shell.readLine().trimmed().toLong());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(ini), 5000);
    QVERIFY(simPid > 0);
    const quint16 port = PlantConfig::read(IniFile::fromFile(ini)).ports[1];

    shell.kill();
    QVERIFY(shell.waitForFinished(3000));
    const bool gone = waitFor([&] { RawClient c; return c.connectTo(port) == ECONNREFUSED; }, 3000);
    if (!gone)
        ::kill(simPid, SIGKILL); // do not leave it behind
    QVERIFY(gone);
}


QTEST_GUILESS_MAIN(TestSimPeers)
#include "tst_sim_peers.moc"
