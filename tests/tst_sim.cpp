// The simulated plant: its physics, its answers (read back through the
// monitor's own decoders), its fault modes against real client sockets on
// 127.0.0.1, the LED panel, param.ini and the executable's ways of ending.

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
using State = InverterState;

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

long acTotal(const PowerParameters &p)
{
    return long(p[PowerParameters::AcPhase1].rawPower) + p[PowerParameters::AcPhase2].rawPower
           + p[PowerParameters::AcPhase3].rawPower;
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

class TestSim : public QObject {
    Q_OBJECT

private slots:
    // Physics
    void statusFollowsTheSun_data();
    void statusFollowsTheSun();
    void valuesAgree();
    void energiesIntegrateAndReset();
    void clockNeverRunsBackwards();
    // Answers
    void answersDecodeToTheReading();
    void countsAreClamped();
    void requestScanner_data();
    void requestScanner();
    // Command line
    void faultModes_data();
    void faultModes();
    void options();
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

void TestSim::statusFollowsTheSun_data()
{
    QTest::addColumn<int>("slot");
    for (int slot = 1; slot <= 6; ++slot)
        QTest::addRow("%s", qPrintable(defaultInverters()[slot - 1].name)) << slot;
}

void TestSim::statusFollowsTheSun()
{
    QFETCH(int, slot);
    const PlantModel model({1, 0.0, 0.0}); // clear sky
    QList<State> seen;
    for (double t = 0; t < PlantModel::SecondsPerDay; t += 60) {
        const State s = model.electrical(slot, t).state;
        if (seen.isEmpty() || seen.last() != s)
            seen.append(s);
    }
    const QList<State> expected{State::Off,       State::Idling,          State::Starting,
                                State::FeedInMpp, State::RegulatedFeedIn, State::FeedInMpp,
                                State::FeedIn,    State::Idling,          State::Off};
    QCOMPARE(seen, expected);
}

void TestSim::valuesAgree()
{
    const PlantModel model({5, 1.0, 0.0}); // with clouds
    int feeding = 0;
    for (int slot = 1; slot <= 6; ++slot) {
        const double nominal = model.profile(slot).nominalWatts;
        for (double t = 0; t < 2 * PlantModel::SecondsPerDay; t += 300) {
            const Electrical e = model.electrical(slot, t);
            const PowerParameters p = toPowerParameters(e);
            const QByteArray where = QStringLiteral("slot %1 at %2 h").arg(slot).arg(t / 3600).toUtf8();
            for (int b = 0; b < PowerParameters::BlockCount; ++b) {
                const PowerBlock &v = p[PowerParameters::Block(b)];
                const double u = v.rawVoltage / 10.0, i = v.rawCurrent / 100.0;
                // P = U x I, up to the rounding of the three counts.
                QVERIFY2(std::abs(v.rawPower - u * i) <= 0.05 * i + 0.005 * u + 1, where);
                if (e.state != State::Off)
                    QVERIFY2(b < PowerParameters::DcInput1 ? u > 220 && u < 240 : u > 300 && u < 620, where);
            }
            const long dc = dcTotal(p), ac = acTotal(p);
            switch (e.state) {
            case State::Off:
                QVERIFY2(p == PowerParameters{}, where);
                break;
            case State::Idling:
            case State::Starting:
                QVERIFY2(dc == 0 && ac == 0, where);
                break;
            case State::RegulatedFeedIn:
                QVERIFY2(std::abs(ac - nominal) <= 3, where);
                [[fallthrough]];
            default:
                ++feeding;
                QVERIFY2(ac > 0 && ac < dc, where);
                if (dc > 0.2 * nominal)
                    QVERIFY2(ac > 0.94 * dc && ac < 0.975 * dc, where); // ~96 % efficiency
                QVERIFY2(ac <= nominal + 3, where);
            }
        }
    }
    QVERIFY(feeding > 6 * 2 * 100);
}

void TestSim::energiesIntegrateAndReset()
{
    const int slot = 3;
    PlantModel model({9, 1.0, 0.0});
    PlantModel jumper({9, 1.0, 0.0});
    const qint32 initial = model.reading(slot).totalWh;
    QCOMPARE(qint64(initial), model.profile(slot).initialTotalWh);
    qint32 lastTotal = initial, lastDaily = 0;
    double integral = 0, dayMax = 0, daySum = 0;
    const double step = 60;
    for (double t = step; t <= 3 * PlantModel::SecondsPerDay; t += step) {
        model.advanceTo(t);
        const InverterReading r = model.reading(slot);
        QVERIFY(r.totalWh >= lastTotal);
        if (r.state == State::Off) {
            QCOMPARE(r.dailyWh, 0);
            if (lastDaily > 0) { // sunset: the day's energy is the integral of its power
                QVERIFY2(std::abs(lastDaily - integral) <= 0.01 * integral, qPrintable(QString::number(t)));
                daySum += lastDaily;
                dayMax = std::max(dayMax, double(lastDaily));
            }
            integral = 0;
        } else {
            QVERIFY(r.dailyWh >= lastDaily);
            integral += acTotal(r.power) * step / 3600.0;
        }
        lastTotal = r.totalWh;
        lastDaily = r.dailyWh;
    }
    // A 10 kW inverter on a summer day with clouds.
    QVERIFY(dayMax > 20000 && dayMax < 10000 * 15);
    QVERIFY(std::abs((lastTotal - initial) - daySum) <= 3);
    // Steps of any size integrate the same.
    jumper.advanceTo(3 * PlantModel::SecondsPerDay);
    QCOMPARE(jumper.reading(slot).totalWh, lastTotal);
}

void TestSim::clockNeverRunsBackwards()
{
    PlantModel model({1, 1.0, 7 * 3600.0});
    QVERIFY(model.reading(1).dailyWh > 0); // the morning before the start counts
    model.advanceTo(10 * 3600.0);
    const InverterReading r = model.reading(1);
    model.advanceTo(8 * 3600.0);
    model.advanceTo(std::nan(""));
    QCOMPARE(model.time(), 10 * 3600.0);
    QCOMPARE(model.reading(1).totalWh, r.totalWh);
}

void TestSim::answersDecodeToTheReading()
{
    PlantModel model({3, 1.0, 0.0});
    for (double t = 3 * 3600; t < PlantModel::SecondsPerDay; t += 3 * 3600) {
        model.advanceTo(t);
        for (int slot = 1; slot <= 6; ++slot) {
            const InverterReading r = model.reading(slot);
            for (const Command c : {Command::Status, Command::PowerParameters, Command::DailyEnergy,
                                    Command::TotalEnergy}) {
                const QByteArray a = encodeAnswer(c, r);
                QCOMPARE(a.size(), qsizetype(expectedReplySize(c)));
                QCOMPARE(a.left(5), QByteArray::fromHex("62ff03ff00"));
                quint8 sum = 0;
                for (const char b : a)
                    sum = quint8(sum + quint8(b));
                QCOMPARE(sum, quint8(0));
            }
            QCOMPARE(decodeStatusCode(bytes(encodeAnswer(Command::Status, r))), quint8(r.state));
            QCOMPARE(decodePowerParameters(bytes(encodeAnswer(Command::PowerParameters, r))), r.power);
            QCOMPARE(decodeEnergy(bytes(encodeAnswer(Command::DailyEnergy, r))), r.dailyWh);
            QCOMPARE(decodeEnergy(bytes(encodeAnswer(Command::TotalEnergy, r))), r.totalWh);
        }
    }
    // Extremes of every field.
    PowerParameters full;
    for (PowerBlock &b : full.blocks)
        b = {0xFFFF, 0x8001, 0x00FF};
    QCOMPARE(decodePowerParameters(bytes(encodePowerAnswer(full))), full);
    for (const qint32 wh : {std::numeric_limits<qint32>::min(), -1, 0, std::numeric_limits<qint32>::max()})
        QCOMPARE(decodeEnergy(bytes(encodeEnergyAnswer(wh))), wh);
}

void TestSim::countsAreClamped()
{
    Electrical e;
    e.dcVolts = {7000, 229.84, -3};
    e.dcAmps = {1e9, 0.005, std::nan("")};
    e.acWatts = {65535.4, 65535.6, -0.4};
    const PowerParameters p = toPowerParameters(e);
    QCOMPARE(p[PowerParameters::DcInput1].rawVoltage, quint16(65535));
    QCOMPARE(p[PowerParameters::DcInput2].rawVoltage, quint16(2298));
    QCOMPARE(p[PowerParameters::DcInput3].rawVoltage, quint16(0));
    QCOMPARE(p[PowerParameters::DcInput1].rawCurrent, quint16(65535));
    QCOMPARE(p[PowerParameters::DcInput2].rawCurrent, quint16(1));
    QCOMPARE(p[PowerParameters::DcInput3].rawCurrent, quint16(0));
    QCOMPARE(p[PowerParameters::AcPhase1].rawPower, quint16(65535));
    QCOMPARE(p[PowerParameters::AcPhase2].rawPower, quint16(65535));
    QCOMPARE(p[PowerParameters::AcPhase3].rawPower, quint16(0));
}

void TestSim::requestScanner_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<Command>>("expected");
    const QByteArray status = QByteArray::fromHex("62ff03ff00574600");
    const QByteArray total = QByteArray::fromHex("62ff03ff00455800");
    const QByteArray daily = QByteArray::fromHex("62ff03ff009d0000");
    QTest::newRow("one frame") << QList<QByteArray>{status} << QList<Command>{Command::Status};
    QList<QByteArray> single;
    for (const char c : total)
        single << QByteArray(1, c);
    QTest::newRow("byte by byte") << single << QList<Command>{Command::TotalEnergy};
    QTest::newRow("back to back") << QList<QByteArray>{daily + status + total}
                                  << QList<Command>{Command::DailyEnergy, Command::Status, Command::TotalEnergy};
    QTest::newRow("after junk and a broken start")
        << QList<QByteArray>{QByteArray::fromHex("00ff6262ff03"), status} << QList<Command>{Command::Status};
    QTest::newRow("wrong check byte") << QList<QByteArray>{QByteArray::fromHex("62ff03ff00574700")}
                                      << QList<Command>{};
    QTest::newRow("unknown command") << QList<QByteArray>{QByteArray::fromHex("62ff03ff00509d00"), daily}
                                     << QList<Command>{Command::DailyEnergy};
    QTest::newRow("last byte not zero") << QList<QByteArray>{QByteArray::fromHex("62ff03ff00574501"), total}
                                        << QList<Command>{Command::TotalEnergy};
}

void TestSim::requestScanner()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<Command>, expected);
    RequestScanner scanner;
    QList<Command> found;
    for (const QByteArray &chunk : chunks) {
        found += scanner.feed(chunk);
        QVERIFY(scanner.pending() < RequestFrameSize);
    }
    QCOMPARE(found, expected);
    // However much junk comes, no more than a partial frame is kept.
    scanner.feed(QByteArray(1 << 20, char(0x62)) + QByteArray::fromHex("62ff03ff00"));
    QCOMPARE(scanner.pending(), 5);
}

void TestSim::faultModes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<FaultMode>("mode");
    QTest::newRow("refuse") << "refuse" << true << FaultMode{FaultMode::Refuse, 0};
    QTest::newRow("close default") << "close" << true << FaultMode{FaultMode::Close, 15000};
    QTest::newRow("close fraction") << "close:0.5" << true << FaultMode{FaultMode::Close, 500};
    QTest::newRow("reset") << "Reset:20" << true << FaultMode{FaultMode::Reset, 20000};
    QTest::newRow("late") << "late:1500" << true << FaultMode{FaultMode::Late, 1500};
    QTest::newRow("split default") << "split" << true << FaultMode{FaultMode::Split, 100};
    QTest::newRow("flood") << "flood:64" << true << FaultMode{FaultMode::Flood, 64};
    QTest::newRow("blob default") << "blob" << true << FaultMode{FaultMode::Blob, 5000};
    QTest::newRow("silent with arg") << "silent:3" << false << FaultMode{};
    QTest::newRow("unknown") << "explode" << false << FaultMode{};
    QTest::newRow("negative") << "close:-1" << false << FaultMode{};
    QTest::newRow("not a number") << "late:soon" << false << FaultMode{};
    QTest::newRow("infinite") << "reset:inf" << false << FaultMode{};
    QTest::newRow("too fast") << "flood:100000" << false << FaultMode{};
}

void TestSim::faultModes()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(FaultMode, mode);
    QString error;
    const auto parsed = FaultMode::parse(text, &error);
    QCOMPARE(parsed.has_value(), valid);
    if (!valid) {
        QVERIFY(!error.isEmpty());
        return;
    }
    QCOMPARE(*parsed, mode);
    QCOMPARE(FaultMode::parse(parsed->toString(), &error), parsed); // written back as it reads
}

void TestSim::options()
{
    const auto ok = parseSimOptions({"brelvon-sim", "--base-port", "50000", "--day-length", "60", "--fault",
                                     "3=reset:2", "--fault", "3=silent", "--fault", "6=late:10",
                                     "--write-ini", "/tmp/x.ini", "--quiet", "--verbose"});
    QVERIFY2(ok.options, qPrintable(ok.error));
    QCOMPARE(ok.options->basePort, std::optional<quint16>(50000));
    QCOMPARE(ok.options->dayLength, 60.0);
    QCOMPARE(ok.options->faults[3], (FaultMode{FaultMode::Silent, 0}));
    QCOMPARE(ok.options->faults[6], (FaultMode{FaultMode::Late, 10}));
    QCOMPARE(ok.options->iniPath, QStringLiteral("/tmp/x.ini"));
    QVERIFY(ok.options->quiet && !ok.options->verbose);
    QVERIFY(!parseSimOptions({"brelvon-sim"}).options->basePort);
    QVERIFY(parseSimOptions({"brelvon-sim", "--help"}).helpRequested);
    const QList<QStringList> bads{{"--base-port", "65530"}, {"--fault", "7=silent"}, {"--fault", "silent"},
                                  {"--day-length", "0"},     {"--start-hour", "24"},   {"--seed", "-1"},
                                  {"--bogus"},               {"extra"}};
    for (const QStringList &bad : bads) {
        const auto r = parseSimOptions(QStringList{"brelvon-sim"} + bad);
        QVERIFY2(!r.options && !r.error.isEmpty(), qPrintable(bad.join(' ')));
    }
}

void TestSim::answersOverSocket()
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

void TestSim::newClientReplacesOld()
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

void TestSim::junkIsSkipped()
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

void TestSim::refuse()
{
    const auto plant = startPlant(5, {FaultMode::Refuse, 0});
    QVERIFY(plant);
    QVERIFY(plant->inverterPort(5) != 0);
    RawClient c;
    QCOMPARE(c.connectTo(plant->inverterPort(5)), ECONNREFUSED);
    RawClient other; // the others are unaffected
    QCOMPARE(other.connectTo(plant->inverterPort(4)), 0);
}

void TestSim::closeAndReset_data()
{
    QTest::addColumn<FaultMode>("fault");
    QTest::addColumn<int>("expectedError");
    QTest::newRow("close:0.3 -> FIN") << FaultMode{FaultMode::Close, 300} << 0;
    QTest::newRow("reset:0.3 -> RST") << FaultMode{FaultMode::Reset, 300} << ECONNRESET;
}

void TestSim::closeAndReset()
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

void TestSim::late()
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

void TestSim::split()
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

void TestSim::coalesce()
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

void TestSim::silent()
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

void TestSim::garbage()
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

void TestSim::flood()
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

void TestSim::blob()
{
    const auto plant = startPlant(1, {FaultMode::Blob, 150});
    QVERIFY(plant);
    RawClient c;
    QCOMPARE(c.connectTo(plant->inverterPort(1)), 0);
    QVERIFY(c.waitUntil([&] { return c.all().size() >= 2 * FaultMode::BlobSize; }, 2000));
    QCOMPARE(c.all().size() % FaultMode::BlobSize, 0);
}

void TestSim::panelDisplay_data()
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

void TestSim::panelDisplay()
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

void TestSim::panelOverSocket()
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

void TestSim::iniMatchesPorts()
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

void TestSim::executableEnds_data()
{
    QTest::addColumn<int>("how"); // 0: stdin closed, else the signal
    QTest::newRow("stdin closed") << 0;
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestSim::executableEnds()
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

void TestSim::endsWithItsParent()
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

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
