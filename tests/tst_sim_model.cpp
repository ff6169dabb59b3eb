// The simulated plant's physics and answers (read back through the
// monitor's own decoders), and its command line.

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

} // namespace

class TestSimModel : public QObject {
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
};

void TestSimModel::statusFollowsTheSun_data()
{
    QTest::addColumn<int>("slot");
    for (int slot = 1; slot <= 6; ++slot)
        QTest::addRow("%s", qPrintable(defaultInverters()[slot - 1].name)) << slot;
}

void TestSimModel::statusFollowsTheSun()
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

void TestSimModel::valuesAgree()
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

void TestSimModel::energiesIntegrateAndReset()
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

void TestSimModel::clockNeverRunsBackwards()
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

void TestSimModel::answersDecodeToTheReading()
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

void TestSimModel::countsAreClamped()
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

void TestSimModel::requestScanner_data()
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

void TestSimModel::requestScanner()
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

void TestSimModel::faultModes_data()
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

void TestSimModel::faultModes()
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

void TestSimModel::options()
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


QTEST_GUILESS_MAIN(TestSimModel)
#include "tst_sim_model.moc"
