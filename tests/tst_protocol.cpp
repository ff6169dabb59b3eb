// The widget-free protocol core: request frames, reply decoding, number
// formats, plant totals and LED panel messages, tested on plain bytes.

#include "protocol/formats.h"
#include "protocol/panelmessage.h"
#include "protocol/planttotals.h"
#include "protocol/replies.h"
#include "protocol/requestframe.h"

#include <QDebug>
#include <QTest>

#include <cfloat>
#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(long double)
Q_DECLARE_METATYPE(Command)

namespace {
const quint8 *bytes(const QByteArray &a)
{
    return reinterpret_cast<const quint8 *>(a.constData());
}

RequestFrameBytes frameFromHex(const char *hex)
{
    const QByteArray raw = QByteArray::fromHex(hex);
    RequestFrameBytes frame{};
    Q_ASSERT(raw.size() == RequestFrameSize);
    std::copy(raw.cbegin(), raw.cend(), frame.begin());
    return frame;
}

// A 73-byte power-parameters answer with the given DC and AC powers (W) and
// every other byte 0xEE, so that stray reads of unexamined bytes show up.
QByteArray powerReply(const std::array<quint16, 3> &dc, const std::array<quint16, 3> &ac)
{
    QByteArray reply(PowerReplySize, char(0xEE));
    auto put = [&reply](int offset, quint16 v) {
        reply[offset] = char(v & 0xFF);
        reply[offset + 1] = char(v >> 8);
    };
    for (int k = 0; k < 3; ++k) {
        put(5 + 10 * k + 4, dc[k]);
        put(35 + 8 * k + 4, ac[k]);
    }
    return reply;
}

const QLocale english(QLocale::English, QLocale::UnitedStates);
const QLocale german(QLocale::German, QLocale::Germany);
const QLocale french(QLocale::French, QLocale::France);
} // namespace

class TestProtocol : public QObject {
    Q_OBJECT

private slots:
    void requestFrames_data();
    void requestFrames();
    void frameDebugText();

    void classifyReply_data();
    void classifyReply();
    void energyReply_data();
    void energyReply();
    void statusReply_data();
    void statusReply();
    void shortRepliesAreRefused();

    void powerLayout();
    void powerValueTexts_data();
    void powerValueTexts();
    void inverterPower_data();
    void inverterPower();

    void sixDigits_data();
    void sixDigits();
    void sixDigitsLargestValue();
    void general_data();
    void general();

    void plantEnergy_data();
    void plantEnergy();
    void plantEnergyReplacesSlotShare();
    void plantPower();

    void panelMessage_data();
    void panelMessage();
};

void TestProtocol::requestFrames_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("replySize");

    QTest::newRow("status") << Command::Status << QByteArray("62ff03ff00574600") << 15;
    QTest::newRow("power parameters") << Command::PowerParameters << QByteArray("62ff03ff00435a00") << 73;
    QTest::newRow("daily energy") << Command::DailyEnergy << QByteArray("62ff03ff009d0000") << 11;
    QTest::newRow("total energy") << Command::TotalEnergy << QByteArray("62ff03ff00455800") << 11;
}

void TestProtocol::requestFrames()
{
    QFETCH(Command, command);
    QFETCH(QByteArray, frame);
    QFETCH(int, replySize);

    const RequestFrameBytes expected = frameFromHex(frame.constData());
    QCOMPARE(requestFrame(command), expected);
    QCOMPARE(expectedReplySize(command), replySize);

    // The shared frame keeps its fixed bytes from start-up; each request
    // rewrites only bytes 5 and 6, whatever the previous request left there.
    RequestFrameBytes shared = blankRequestFrame();
    writeCommand(shared, 0xA5, 0x5A);
    writeCommand(shared, command);
    QCOMPARE(shared, expected);

    int sum = 0;
    for (quint8 b : expected)
        sum += b;
    QCOMPARE(sum % 256, 0);
}

void TestProtocol::frameDebugText()
{
    QString text;
    QDebug(&text).nospace() << requestFrame(Command::Status);
    QCOMPARE(text, QStringLiteral("62 ff 03 ff 00 57 46 00"));
}

void TestProtocol::classifyReply_data()
{
    QTest::addColumn<int>("dataSize");
    QTest::addColumn<ReplyKind>("kind");

    QTest::newRow("11 energy") << 11 << ReplyKind::Energy;
    QTest::newRow("15 status") << 15 << ReplyKind::Status;
    QTest::newRow("73 power") << 73 << ReplyKind::PowerParameters;
    for (int n : {-1, 0, 8, 10, 12, 14, 16, 22, 72, 74, 100, 101, std::numeric_limits<int>::max()})
        QTest::addRow("%d none", n) << n << ReplyKind::None;
}

void TestProtocol::classifyReply()
{
    QFETCH(int, dataSize);
    QFETCH(ReplyKind, kind);
    QCOMPARE(::classifyReply(dataSize), kind);
}

void TestProtocol::energyReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<qint32>("wattHours");
    QTest::addColumn<QString>("dailyText");
    QTest::addColumn<QString>("totalText");

    // Bytes 0..4 and 9..10 carry noise: they are never examined.
    QTest::newRow("12345") << QByteArray::fromHex("ee11223344" "39300000" "ffee")
                           << 12345 << "12345 Wh" << "000000";
    QTest::newRow("12345678") << QByteArray::fromHex("ee11223344" "4e61bc00" "ffee")
                              << 12345678 << "12345678 Wh" << "000012";
    QTest::newRow("2500000 rounds half up") << QByteArray::fromHex("ee11223344" "a0252600" "ffee")
                                            << 2500000 << "2500000 Wh" << "000003";
    QTest::newRow("-1") << QByteArray::fromHex("ee11223344" "ffffffff" "ffee")
                        << -1 << "-1 Wh" << "000000";
    QTest::newRow("int32 min") << QByteArray::fromHex("ee11223344" "00000080" "ffee")
                               << std::numeric_limits<qint32>::min() << "-2147483648 Wh" << "-002147";
    QTest::newRow("int32 max") << QByteArray::fromHex("ee11223344" "ffffff7f" "ffee")
                               << std::numeric_limits<qint32>::max() << "2147483647 Wh" << "002147";
}

void TestProtocol::energyReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(qint32, wattHours);
    QFETCH(QString, dailyText);
    QFETCH(QString, totalText);

    QCOMPARE(reply.size(), EnergyReplySize);
    const qint32 e = decodeEnergy(bytes(reply));
    QCOMPARE(e, wattHours);
    QCOMPARE(formatEnergyWh(e), dailyText);
    QCOMPARE(energyMWh(e), wattHours / 1000000.0L);
    QCOMPARE(formatSixDigits(energyMWh(e)), totalText);
}

void TestProtocol::statusReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("text"); // null: no text, the readout keeps its own

    const QByteArray head = QByteArray::fromHex("ee11223344");
    const QByteArray tail = QByteArray::fromHex("ffffffffffffffffff");
    const char *texts[] = {"Off", "Idling", "Starting", "Feed-In MPP", "Regulated Feed-In", "Feed-In"};
    for (int code = 0; code < 6; ++code)
        QTest::addRow("code %d", code) << head + char(code) + tail << QString::fromLatin1(texts[code]);
    for (int code : {6, 0x80, 255})
        QTest::addRow("code %d unknown", code) << head + char(code) + tail << QString();
}

void TestProtocol::statusReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, text);

    QCOMPARE(reply.size(), StatusReplySize);
    const std::optional<QString> decoded = statusText(decodeStatusCode(bytes(reply)));
    QCOMPARE(decoded.has_value(), !text.isNull());
    if (decoded)
        QCOMPARE(*decoded, text);
}

void TestProtocol::shortRepliesAreRefused()
{
    // The checked decoders read nothing past the end of what they are given.
    const QByteArray energy = QByteArray::fromHex("000000000039300000");
    QCOMPARE(tryDecodeEnergy(energy.left(EnergyMinBytes - 1)), std::nullopt);
    QCOMPARE(tryDecodeEnergy(energy), std::optional<qint32>(12345));

    const QByteArray status = QByteArray::fromHex("000000000003");
    QCOMPARE(tryDecodeStatusCode(status.left(StatusMinBytes - 1)), std::nullopt);
    QCOMPARE(tryDecodeStatusCode(status), std::optional<quint8>(3));

    const QByteArray power = powerReply({1, 2, 3}, {4, 5, 6});
    QVERIFY(!tryDecodePowerParameters(power.left(PowerMinBytes - 1)));
    const auto decoded = tryDecodePowerParameters(power.left(PowerMinBytes));
    QVERIFY(decoded);
    QCOMPARE(decoded->blocks[PowerParameters::AcPhase3].rawPower, quint16(6));
    QCOMPARE(tryDecodeEnergy({}), std::nullopt);
}

void TestProtocol::powerLayout()
{
    // Every value distinct: 0xBBnn holds block BB (1..3 DC, 4..6 AC),
    // quantity nn (1 voltage, 2 current, 3 power); unexamined bytes are 0xEE.
    const QByteArray reply = QByteArray::fromHex(
        "eeeeeeeeee"                   //  0.. 4
        "010102010301" "eeeeeeee"      //  5..14  DC input 1
        "010202020302" "eeeeeeee"      // 15..24  DC input 2
        "010302030303" "eeeeeeee"      // 25..34  DC input 3
        "010402040304" "eeee"          // 35..42  AC phase 1
        "010502050305" "eeee"          // 43..50  AC phase 2
        "010602060306"                 // 51..56  AC phase 3
        "eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee"); // 57..72
    QCOMPARE(reply.size(), PowerReplySize);

    const PowerParameters p = decodePowerParameters(bytes(reply));
    const int blockNumber[] = {4, 5, 6, 1, 2, 3}; // AC 1..3 first, as shown
    for (int b = 0; b < PowerParameters::BlockCount; ++b) {
        const PowerBlock &block = p.blocks[b];
        const int high = blockNumber[b] << 8;
        QCOMPARE(block.rawVoltage, quint16(high | 1));
        QCOMPARE(block.rawCurrent, quint16(high | 2));
        QCOMPARE(block.rawPower, quint16(high | 3));
    }
}

void TestProtocol::powerValueTexts_data()
{
    QTest::addColumn<QByteArray>("bytes5and6");
    QTest::addColumn<QString>("asVoltage");
    QTest::addColumn<QString>("asCurrent");
    QTest::addColumn<QString>("asPower");

    QTest::newRow("fa 08") << QByteArray::fromHex("fa08") << "229.8" << "22.98" << "2298";
    QTest::newRow("08 fa swapped") << QByteArray::fromHex("08fa") << "6400.8" << "640.08" << "64008";
    QTest::newRow("ffff unsigned") << QByteArray::fromHex("ffff") << "6553.5" << "655.35" << "65535";
    QTest::newRow("zero") << QByteArray::fromHex("0000") << "0" << "0" << "0";
    QTest::newRow("2300") << QByteArray::fromHex("fc08") << "230" << "23" << "2300";
    QTest::newRow("5") << QByteArray::fromHex("0500") << "0.5" << "0.05" << "5";
    QTest::newRow("120") << QByteArray::fromHex("7800") << "12" << "1.2" << "120";
    QTest::newRow("1234") << QByteArray::fromHex("d204") << "123.4" << "12.34" << "1234";
}

void TestProtocol::powerValueTexts()
{
    QFETCH(QByteArray, bytes5and6);
    QFETCH(QString, asVoltage);
    QFETCH(QString, asCurrent);
    QFETCH(QString, asPower);

    // The same two bytes read as DC input 1 voltage, current and power.
    QByteArray reply(PowerReplySize, '\0');
    for (int offset : {5, 7, 9})
        reply.replace(offset, 2, bytes5and6);
    const PowerBlock dc1 = decodePowerParameters(bytes(reply))[PowerParameters::DcInput1];
    QCOMPARE(formatGeneral(dc1.voltage(), english), asVoltage);
    QCOMPARE(formatGeneral(dc1.current(), english), asCurrent);
    QCOMPARE(formatGeneral(dc1.power(), english), asPower);
}

void TestProtocol::inverterPower_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<long double>("kw");
    QTest::addColumn<QString>("text");

    QTest::newRow("1500+1200+0") << powerReply({1500, 1200, 0}, {0, 0, 0}) << 2.7L << "2.7";
    QTest::newRow("AC powers not counted") << powerReply({1000, 2000, 500}, {1100, 1100, 1100})
                                           << 3.5L << "3.5";
    QTest::newRow("1 W") << powerReply({1, 0, 0}, {60000, 60000, 60000}) << 0.001L << "0.001";
    QTest::newRow("all zero") << powerReply({0, 0, 0}, {0, 0, 0}) << 0.0L << "0";
    QTest::newRow("maximum") << powerReply({65535, 65535, 65535}, {0, 0, 0}) << 196.605L << "196.605";
}

void TestProtocol::inverterPower()
{
    QFETCH(QByteArray, reply);
    QFETCH(long double, kw);
    QFETCH(QString, text);

    const long double power = decodePowerParameters(bytes(reply)).inverterPowerKw();
    QCOMPARE(formatGeneral(power, english), text);
    QVERIFY(std::fabs(power - kw) < 1e-15L);
}

void TestProtocol::sixDigits_data()
{
    QTest::addColumn<long double>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("12.345678") << 12.345678L << "000012";
    QTest::newRow("0.5 away from zero") << 0.5L << "000001";
    QTest::newRow("just below 0.5") << std::nextafter(0.5L, 0.0L) << "000000";
    QTest::newRow("2.5 away from zero") << 2.5L << "000003";
    QTest::newRow("1234567.2 seven digits") << 1234567.2L << "1234567";
    QTest::newRow("-0.4 no sign") << -0.4L << "000000";
    QTest::newRow("-0.5") << -0.5L << "-000001";
    QTest::newRow("-2.5") << -2.5L << "-000003";
    QTest::newRow("negative zero") << -0.0L << "000000";
    QTest::newRow("zero") << 0.0L << "000000";
    QTest::newRow("999999.4") << 999999.4L << "999999";
    QTest::newRow("999999.5 grows") << 999999.5L << "1000000";
    QTest::newRow("co2 6172.839") << 6172.839L << "006173";
    QTest::newRow("co2 -200") << -200.0L << "-000200";
    QTest::newRow("1e18") << 1e18L << "1000000000000000000";
    QTest::newRow("2^64") << 18446744073709551616.0L << "18446744073709551616";
    QTest::newRow("-1e20") << -1e20L << "-100000000000000000000";
    QTest::newRow("nan") << std::numeric_limits<long double>::quiet_NaN() << "NaN";
    QTest::newRow("inf") << std::numeric_limits<long double>::infinity() << "Inf";
    QTest::newRow("-inf") << -std::numeric_limits<long double>::infinity() << "-Inf";
}

void TestProtocol::sixDigits()
{
    QFETCH(long double, value);
    QFETCH(QString, text);
    QCOMPARE(formatSixDigits(value), text);
}

void TestProtocol::sixDigitsLargestValue()
{
    const QString text = formatSixDigits(-LDBL_MAX);
    QCOMPARE(text.size(), 1 + LDBL_MAX_10_EXP + 1);
    QVERIFY(text.startsWith(QLatin1String("-11897314953572317650")));
    for (qsizetype i = 1; i < text.size(); ++i)
        QVERIFY(text.at(i).isDigit());
}

void TestProtocol::general_data()
{
    QTest::addColumn<long double>("value");
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text");

    // Computed as the decoder does: raw count ÷ 10, ÷ 100 or ÷ 1000.
    QTest::newRow("229.8") << 2298 / 10.0L << english << "229.8";
    QTest::newRow("230") << 2300 / 10.0L << english << "230";
    QTest::newRow("0") << 0 / 10.0L << english << "0";
    QTest::newRow("0.05") << 5 / 100.0L << english << "0.05";
    QTest::newRow("1.2") << 120 / 100.0L << english << "1.2";
    QTest::newRow("12.34") << 1234 / 100.0L << english << "12.34";
    QTest::newRow("1500 no group separator") << 1500.0L << english << "1500";
    QTest::newRow("2.7") << 2700 / 1000.0L << english << "2.7";
    QTest::newRow("0.001") << 1 / 1000.0L << english << "0.001";
    QTest::newRow("6553.5") << 65535 / 10.0L << english << "6553.5";
    QTest::newRow("655.35") << 65535 / 100.0L << english << "655.35";
    QTest::newRow("65535") << 65535.0L << english << "65535";
    QTest::newRow("196.605") << (65535.0L + 65535 + 65535) / 1000 << english << "196.605";
    QTest::newRow("1179.63 plant power") << 6 * ((65535.0L * 3) / 1000) << english << "1179.63";

    QTest::newRow("de 230.5") << 2305 / 10.0L << german << "230,5";
    QTest::newRow("de 6553.5") << 65535 / 10.0L << german << "6553,5";
    QTest::newRow("de 65535") << 65535.0L << german << "65535";
    QTest::newRow("de 0.05") << 5 / 100.0L << german << "0,05";
    QTest::newRow("fr 655.35") << 65535 / 100.0L << french << "655,35";
    QTest::newRow("fr 1179.63") << 1179.63L << french << "1179,63";

    QTest::newRow("15 digits") << 1 / 3.0L << english << "0.333333333333333";
    QTest::newRow("negative") << -1.5L << english << "-1.5";
    QTest::newRow("negative zero") << -0.0L << english << "0";
    QTest::newRow("0.0001 plain") << 0.0001L << english << "0.0001";
    QTest::newRow("below 0.0001 exponent") << 0.000015L << german << "1,5E-05";
    QTest::newRow("15 nines plain") << 999999999999999.0L << english << "999999999999999";
    QTest::newRow("rounds up to 1e15") << 999999999999999.9L << english << "1E+15";
    QTest::newRow("1e17") << 123456789012345678.0L << english << "1.23456789012346E+17";
    QTest::newRow("nan") << std::numeric_limits<long double>::quiet_NaN() << english << "NaN";
    QTest::newRow("-inf") << -std::numeric_limits<long double>::infinity() << german << "-Inf";
}

void TestProtocol::general()
{
    QFETCH(long double, value);
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    QCOMPARE(formatGeneral(value, locale), text);
}

void TestProtocol::plantEnergy_data()
{
    QTest::addColumn<QList<qint32>>("slotWattHours"); // slots 1..6
    QTest::addColumn<QString>("energyText");
    QTest::addColumn<QString>("co2Text");

    QTest::newRow("none") << QList<qint32>{0, 0, 0, 0, 0, 0} << "000000" << "000000";
    QTest::newRow("slot 3 only") << QList<qint32>{0, 0, 12345678, 0, 0, 0} << "000012" << "006173";
    QTest::newRow("slots 1 and 2") << QList<qint32>{2500000, 2500000, 0, 0, 0, 0} << "000005" << "002500";
    QTest::newRow("slot 6 counts") << QList<qint32>{0, 0, 0, 0, 0, 7000000} << "000007" << "003500";
    QTest::newRow("2000 MWh") << QList<qint32>{2000000000, 0, 0, 0, 0, 0} << "002000" << "1000000";
    QTest::newRow("1999.999 MWh") << QList<qint32>{1999999000, 0, 0, 0, 0, 0} << "002000" << "1000000";
    QTest::newRow("1999.998 MWh") << QList<qint32>{1999998000, 0, 0, 0, 0, 0} << "002000" << "999999";
    QTest::newRow("sum -0.4") << QList<qint32>{100000, -500000, 0, 0, 0, 0} << "000000" << "-000200";
    // -1000 Wh ÷ 1e6 in extended precision lies a hair above -0.001, so the
    // CO2 is -0.4999... kg and reads without sign; one more Wh tips it.
    QTest::newRow("-0.001 extended") << QList<qint32>{0, -1000, 0, 0, 0, 0} << "000000" << "000000";
    QTest::newRow("-0.001001") << QList<qint32>{0, -1001, 0, 0, 0, 0} << "000000" << "-000001";
    QTest::newRow("all minimum")
        << QList<qint32>(6, std::numeric_limits<qint32>::min()) << "-012885" << "-6442451";
    QTest::newRow("all maximum")
        << QList<qint32>(6, std::numeric_limits<qint32>::max()) << "012885" << "6442451";
}

void TestProtocol::plantEnergy()
{
    QFETCH(QList<qint32>, slotWattHours);
    QFETCH(QString, energyText);
    QFETCH(QString, co2Text);

    PlantTotals totals;
    totals.SlotPower[2] = 3.5L;
    for (int n = 1; n <= 6; ++n)
        totals.SlotEnergy[n] = energyMWh(slotWattHours[n - 1]);
    totals.refreshEnergy();
    QCOMPARE(formatSixDigits(totals.PlantEnergy), energyText);
    QCOMPARE(formatSixDigits(totals.PlantCO2), co2Text);
    QCOMPARE(totals.PlantPower, 0.0L); // an energy refresh leaves the power sum alone
}

void TestProtocol::plantEnergyReplacesSlotShare()
{
    PlantTotals totals;
    totals.SlotEnergy[1] = energyMWh(2500000);
    totals.SlotEnergy[2] = energyMWh(2500000);
    totals.refreshEnergy();
    QCOMPARE(formatSixDigits(totals.PlantEnergy), QStringLiteral("000005"));

    totals.SlotEnergy[1] = energyMWh(0);
    totals.refreshEnergy();
    QCOMPARE(formatSixDigits(totals.PlantEnergy), QStringLiteral("000003"));
    QCOMPARE(formatSixDigits(totals.PlantCO2), QStringLiteral("001250"));
}

void TestProtocol::plantPower()
{
    PlantTotals totals;
    totals.SlotEnergy[1] = 5;
    totals.refreshPower();
    QCOMPARE(formatSixDigits(totals.PlantPower), QStringLiteral("000000"));
    QCOMPARE(totals.PlantEnergy, 0.0L); // a power refresh leaves the energy sums alone
    QCOMPARE(totals.PlantCO2, 0.0L);

    totals.SlotPower[1] = decodePowerParameters(bytes(powerReply({1500, 1200, 0}, {}))).inverterPowerKw();
    totals.SlotPower[6] = decodePowerParameters(bytes(powerReply({1000, 2000, 500}, {}))).inverterPowerKw();
    totals.refreshPower();
    QCOMPARE(formatGeneral(totals.PlantPower, english), QStringLiteral("6.2"));
    QCOMPARE(formatSixDigits(totals.PlantPower), QStringLiteral("000006"));

    const long double maximum =
        decodePowerParameters(bytes(powerReply({65535, 65535, 65535}, {}))).inverterPowerKw();
    for (int n = 1; n <= 6; ++n)
        totals.SlotPower[n] = maximum;
    totals.refreshPower();
    QCOMPARE(formatGeneral(totals.PlantPower, english), QStringLiteral("1179.63"));
    QCOMPARE(formatSixDigits(totals.PlantPower), QStringLiteral("001180"));
}

void TestProtocol::panelMessage_data()
{
    QTest::addColumn<char>("letter");
    QTest::addColumn<QString>("figure");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("A 000123") << 'A' << "000123" << QByteArray("!A000123%");
    QTest::newRow("B 000456") << 'B' << "000456" << QByteArray("!B000456%");
    QTest::newRow("C 000078") << 'C' << "000078" << QByteArray("!C000078%");
    QTest::newRow("A zero") << 'A' << "000000" << QByteArray("!A000000%");
    QTest::newRow("B zero") << 'B' << "000000" << QByteArray("!B000000%");
    QTest::newRow("C zero") << 'C' << "000000" << QByteArray("!C000000%");
    QTest::newRow("A 000510") << 'A' << "000510" << QByteArray("!A000510%");
    QTest::newRow("B 002000") << 'B' << "002000" << QByteArray("!B002000%");
    QTest::newRow("C 1000000 loses %") << 'C' << "1000000" << QByteArray("!C1000000");
    QTest::newRow("B -000001") << 'B' << "-000001" << QByteArray("!B-000001");
    QTest::newRow("C -000500") << 'C' << "-000500" << QByteArray("!C-000500");
    QTest::newRow("B -002147") << 'B' << "-002147" << QByteArray("!B-002147");
    QTest::newRow("C -1073742 cut") << 'C' << "-1073742" << QByteArray("!C-107374");

    QTest::newRow("empty figure not padded") << 'A' << "" << QByteArray("!A%");
    QTest::newRow("short figure not padded") << 'A' << "NaN" << QByteArray("!ANaN%");
    QTest::newRow("non-ASCII as ?") << 'B' << QString::fromUtf8("ä€1𝄞") << QByteArray("!B??1??%");
    QTest::newRow("non-ASCII cut at 9") << 'B' << QString::fromUtf8("ääääääää") << QByteArray("!B???????");
    QTest::newRow("very long figure") << 'C' << QString(1 << 20, QLatin1Char('9')) << QByteArray("!C9999999");
}

void TestProtocol::panelMessage()
{
    QFETCH(char, letter);
    QFETCH(QString, figure);
    QFETCH(QByteArray, message);
    QCOMPARE(composePanelMessage(letter, figure), message);
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
