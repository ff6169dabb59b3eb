// Answers of the inverters end to end: readouts, plant totals and what the
// LED panel receives, against real local peers.
#include "formfixture.h"
#include "app/widgets.h"
#include "net/simpletcp.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QtEndian>

namespace {
const QByteArray kStatus = QByteArray::fromHex("62ff03ff00574600");
const QByteArray kPower = QByteArray::fromHex("62ff03ff00435a00");
const QByteArray kDaily = QByteArray::fromHex("62ff03ff009d0000");
const QByteArray kTotal = QByteArray::fromHex("62ff03ff00455800");

QByteArray energyReply(qint32 wh)
{
    QByteArray r(11, '\x11');
    qToLittleEndian<qint32>(wh, r.data() + 5);
    return r;
}

QByteArray statusReply(quint8 code)
{
    QByteArray r(15, '\x22');
    r[5] = char(code);
    return r;
}

// Blocks in the order DC input 1..3 (offsets 5, 15, 25), AC phase 1..3 (35, 43, 51).
QByteArray powerReply(const std::array<std::array<quint16, 3>, 6> &dcThenAc)
{
    QByteArray r(73, '\x33');
    const int offsets[6] = {5, 15, 25, 35, 43, 51};
    for (int b = 0; b < 6; ++b)
        for (int q = 0; q < 3; ++q)
            qToLittleEndian<quint16>(dcThenAc[b][q], r.data() + offsets[b] + 2 * q);
    return r;
}

QStringList panelMessages(TestPeer &panel)
{
    QStringList out;
    for (const auto &m : panel.frames(9))
        out << QString::fromLatin1(m.bytes);
    return out;
}
} // namespace

class TestAnswers : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qApp->setQuitOnLastWindowClosed(false); }
    void energy_data();
    void energy();
    void status_data();
    void status();
    void powerParameters();
    void commaLocale();
    void plantTotalsAcrossSlots();
    void sizeLinesAndQuietLog();
    void otherSizesAreDroppedSilently_data();
    void otherSizesAreDroppedSilently();
    void energyKindFollowsTheSameLink();
    void powerAnswerStaysInItsSlot();
    void shortReceiveIsNotDecoded();
    void sndSendsNineByteMessages();
    void sndWithPanelDownStillPauses();
    void nestedPanelUpdatesInterleave();
    void panelBytesAreDrained();
};

void TestAnswers::energy_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("daily");
    QTest::addColumn<QString>("total");
    QTest::newRow("12345") << QByteArray::fromHex("39300000") << "12345 Wh" << "000000";
    QTest::newRow("12345678") << QByteArray::fromHex("4e61bc00") << "12345678 Wh" << "000012";
    QTest::newRow("2500000") << QByteArray::fromHex("a0252600") << "2500000 Wh" << "000003";
    QTest::newRow("-1") << QByteArray::fromHex("ffffffff") << "-1 Wh" << "000000";
    QTest::newRow("min") << QByteArray::fromHex("00000080") << "-2147483648 Wh" << "-002147";
}

void TestAnswers::energy()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, daily);
    QFETCH(QString, total);
    FormFixture f;
    QVERIFY(f.showAndConnect());
    QByteArray reply(11, '\0');
    reply.replace(5, 4, bytes);
    f.peer[3]->setReplies({{kDaily, reply}, {kTotal, reply}});

    f.form->SBDClick(3);
    QTRY_COMPARE(f.text("DailyEnergy_3"), daily);
    QCOMPARE(f.text("ETotal_3"), QStringLiteral("000.0"));
    QVERIFY(f.panel->received().isEmpty());

    f.form->SBTClick(3);
    QTRY_COMPARE(f.text("ETotal_3"), total);
    QCOMPARE(f.text("ETotal_Total"), total);
    QCOMPARE(f.text("DailyEnergy_3"), daily);
    // A total energy, negative ones too, goes to the panel.
    QTRY_COMPARE(f.panel->frames(9).size(), 3);
    QCOMPARE(panelMessages(*f.panel).value(1).left(2), QStringLiteral("!B"));
}

void TestAnswers::status_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "Off";
    QTest::newRow("1") << 1 << "Idling";
    QTest::newRow("2") << 2 << "Starting";
    QTest::newRow("3") << 3 << "Feed-In MPP";
    QTest::newRow("4") << 4 << "Regulated Feed-In";
    QTest::newRow("5") << 5 << "Feed-In";
    QTest::newRow("6 keeps the text") << 6 << "Unknow";
    QTest::newRow("255 keeps the text") << 255 << "Unknow";
}

void TestAnswers::status()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.peer[2]->setReplies({{kStatus, statusReply(quint8(code))}});
    f.form->SBPClick(2);
    QTRY_COMPARE(f.log().count(QStringLiteral("Status parameters:DataSize: 15")), 1);
    QCOMPARE(f.text("LblStatus2"), text);
    QCOMPARE(f.text("LblStatus1"), QStringLiteral("Unknow"));
}

void TestAnswers::powerParameters()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    const QByteArray reply = powerReply({{{2298, 120, 1500}, {0xFFFF, 0xFFFF, 1200}, {0, 5, 0},
                                          {2300, 1234, 1100}, {2301, 1, 1100}, {0, 0, 1100}}});
    f.peer[4]->setReplies({{kPower, reply}});
    f.form->SBPClick(4);
    QTRY_COMPARE(f.text("TPower_4"), QStringLiteral("2.7 KW"));
    const QStringList expected = {
            "G1Volt_4", "229.8 V", "G1Cur_4", "1.2 A", "G1Power_4", "1500 W",
            "G2Volt_4", "6553.5 V", "G2Cur_4", "655.35 A", "G2Power_4", "1200 W",
            "G3Volt_4", "0 V", "G3Cur_4", "0.05 A", "G3Power_4", "0 W",
            "F1volt_4", "230 V", "F1Cur_4", "12.34 A", "F1Power_4", "1100 W",
            "F2Volt_4", "230.1 V", "F2Cur_4", "0.01 A", "F2Power_4", "1100 W",
            "F3Volt_4", "0 V", "F3cur_4", "0 A", "F3Power_4", "1100 W"};
    for (int i = 0; i < expected.size(); i += 2)
        QCOMPARE(f.text(expected[i]), expected[i + 1]);
    QCOMPARE(f.text("Power_Total"), QStringLiteral("000003"));
    QCOMPARE(f.text("G1Volt_3"), QStringLiteral("000.0"));
    QCOMPARE(double(f.form->state().Totals.SlotPower[4]), 2.7);
    QTest::qWait(3 * f.durations.panelPause);
    QVERIFY(f.panel->received().isEmpty()); // power alone sends nothing
}

void TestAnswers::commaLocale()
{
    FormFixture f;
    f.form->setNumberLocale(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(f.showAndConnect());
    f.peer[1]->setReplies({{kPower, powerReply({{{2305, 1234, 12345}, {}, {}, {}, {}, {}}})}});
    f.form->SBPClick(1);
    QTRY_COMPARE(f.text("G1Volt_1"), QStringLiteral("230,5 V"));
    QCOMPARE(f.text("G1Power_1"), QStringLiteral("12345 W")); // no thousands separator
    QCOMPARE(f.text("TPower_1"), QStringLiteral("12,345 KW"));
}

void TestAnswers::plantTotalsAcrossSlots()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.peer[1]->setReplies({{kTotal, energyReply(2500000)}});
    f.peer[2]->setReplies({{kTotal, energyReply(2500000)}});
    f.form->SBTClick(1);
    f.form->SBTClick(2);
    QTRY_COMPARE(f.text("ETotal_Total"), QStringLiteral("000005"));
    QCOMPARE(f.text("CO2_Total"), QStringLiteral("002500"));
    f.peer[1]->setReplies({{kTotal, energyReply(0)}});
    f.form->SBTClick(1);
    QTRY_COMPARE(f.text("ETotal_Total"), QStringLiteral("000003"));
    QCOMPARE(f.text("CO2_Total"), QStringLiteral("001250"));
    QCOMPARE(f.text("ETotal_1"), QStringLiteral("000000"));
}

void TestAnswers::sizeLinesAndQuietLog()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.peer[1]->setReplies({{kStatus, statusReply(3)}, {kPower, powerReply({})},
                           {kDaily, energyReply(7)}, {kTotal, energyReply(8)}});
    f.form->widgets().Memo1->clear();
    f.form->SBPClick(1);
    f.form->SBDClick(1);
    QTRY_COMPARE(f.text("DailyEnergy_1"), QStringLiteral("7 Wh"));
    f.form->SBTClick(1);
    QTRY_COMPARE(f.log().size(), 4);
    QCOMPARE(f.log(), (QStringList{"Status parameters:DataSize: 15", "Power parameters:DataSize: 73",
                                   "Daily energy:DataSize: 11", "Total energy:DataSize: 11"}));

    f.form->widgets().CB1->setChecked(true);
    f.form->widgets().CB1->setChecked(false);
    f.form->widgets().Memo1->clear();
    f.peer[1]->setReplies({{kDaily, energyReply(9)}});
    f.form->SBDClick(1);
    QTRY_COMPARE(f.text("DailyEnergy_1"), QStringLiteral("9 Wh")); // values still shown
    QVERIFY(f.log().isEmpty());
}

void TestAnswers::otherSizesAreDroppedSilently_data()
{
    QTest::addColumn<QByteArray>("junk");
    QTest::newRow("16 bytes") << statusReply(4) + "x";
    QTest::newRow("two answers at once") << energyReply(1) + energyReply(2);
    QTest::newRow("200-byte blob") << QByteArray(200, '\x0b');
    QTest::newRow("1 MiB of garbage") << QByteArray(1 << 20, '\x0f');
}

// Any other size is consumed and dropped without a log line; the link stays
// up and the next whole answer is shown.
void TestAnswers::otherSizesAreDroppedSilently()
{
    QFETCH(QByteArray, junk);
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.form->widgets().Memo1->clear();
    f.form->SBTClick(5);
    f.peer[5]->send(junk);
    QTest::qWait(300);
    QCOMPARE(f.text("ETotal_5"), QStringLiteral("000.0"));
    QCOMPARE(f.text("LblStatus5"), QStringLiteral("Unknow"));
    QVERIFY(f.log().isEmpty());
    QVERIFY(f.form->TCP(5)->Connected());
    f.peer[5]->setReplies({{kTotal, energyReply(12345678)}});
    f.form->SBTClick(5);
    QTRY_COMPARE(f.text("ETotal_5"), QStringLiteral("000012"));
}

// Inverter 1 is asked for its daily energy, then inverter 2 for its total
// before inverter 1 answers: inverter 1's answer is still its daily energy.
void TestAnswers::energyKindFollowsTheSameLink()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.form->SBDClick(1);
    f.form->SBTClick(2);
    QCOMPARE(int(f.form->state().LastCommand), 0x45);
    f.peer[1]->send(energyReply(4321));
    QTRY_COMPARE(f.text("DailyEnergy_1"), QStringLiteral("4321 Wh"));
    QCOMPARE(f.text("ETotal_1"), QStringLiteral("000.0"));
    QCOMPARE(double(f.form->state().Totals.SlotEnergy[1]), 0.0);
    QTest::qWait(3 * f.durations.panelPause);
    QVERIFY(f.panel->received().isEmpty());
}

void TestAnswers::powerAnswerStaysInItsSlot()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.form->GBClick(5);
    f.peer[3]->send(powerReply({{{1000, 100, 1000}, {1000, 100, 2000}, {1000, 100, 500}, {}, {}, {}}}));
    QTRY_COMPARE(f.text("TPower_3"), QStringLiteral("3.5 KW"));
    QCOMPARE(f.text("TPower_5"), QStringLiteral("000.0"));
    QCOMPARE(f.form->state().ActiveInverter, 5);
}

// A receive that comes back short shows nothing: the buffer would still hold
// an earlier answer.
void TestAnswers::shortReceiveIsNotDecoded()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.peer[6]->setReplies({{kTotal, energyReply(12345678)}});
    f.form->SBTClick(6);
    QTRY_COMPARE(f.text("ETotal_6"), QStringLiteral("000012"));
    QTRY_COMPARE(f.panel->frames(9).size(), 3);
    f.form->widgets().Memo1->clear();

    f.peer[6]->send("abcde");
    QThread::msleep(50); // the five bytes wait on the socket, unannounced
    f.form->TCPDataAvailable(6, 11);
    QCOMPARE(f.text("ETotal_6"), QStringLiteral("000012"));
    QVERIFY(f.log().isEmpty());
    QCOMPARE(f.panel->frames(9).size(), 3);
}

void TestAnswers::sndSendsNineByteMessages()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    const qint64 clickedAt = f.panel->elapsed();
    QTest::mouseClick(f.form->widgets().Button3, Qt::LeftButton);
    QTRY_COMPARE(panelMessages(*f.panel), (QStringList{"!A000000%", "!B000000%", "!C000000%"}));
    // Message k goes out after k pauses; it cannot arrive before it was sent.
    const auto m = f.panel->frames(9);
    QVERIFY(m[1].atMs - clickedAt >= f.durations.panelPause - 1);
    QVERIFY(m[2].atMs - clickedAt >= 2 * f.durations.panelPause - 1);

    // A seven-character figure loses its "%".
    f.panel->clearReceived();
    f.form->widgets().Power_Total->setText(QStringLiteral("000510"));
    f.form->widgets().ETotal_Total->setText(QStringLiteral("002000"));
    f.form->widgets().CO2_Total->setText(QStringLiteral("1000000"));
    f.form->Button3Click();
    QTRY_COMPARE(panelMessages(*f.panel), (QStringList{"!A000510%", "!B002000%", "!C1000000"}));
}

void TestAnswers::sndWithPanelDownStillPauses()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.form->Timer2()->stop();
    f.form->TcpPanel()->AssignConnected(false);
    f.form->widgets().Memo1->clear();
    QElapsedTimer t;
    t.start();
    f.form->Button3Click();
    QVERIFY(t.elapsed() >= 3 * f.durations.panelPause - 2);
    QVERIFY(f.log().isEmpty());
    QVERIFY(f.panel->received().isEmpty());
}

// A total energy handled during the first pause of a running update starts
// its own three messages before the outer update goes on.
void TestAnswers::nestedPanelUpdatesInterleave()
{
    Durations d = FormFixture::fastDurations();
    d.panelPause = 400; // the answer comes well inside the first pause
    FormFixture f({}, d);
    QVERIFY(f.showAndConnect());
    f.peer[2]->setReplies({{kTotal, energyReply(2500000)}});
    QTimer::singleShot(100, f.form.get(), [&] { f.form->SBTClick(2); });
    f.form->Button3Click();
    QCOMPARE(panelMessages(*f.panel).size(), 6);
    QCOMPARE(panelMessages(*f.panel),
             (QStringList{"!A000000%", "!A000000%", "!B000003%", "!C001250%", "!B000003%", "!C001250%"}));
}

void TestAnswers::panelBytesAreDrained()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.panel->send(QByteArray(1 << 20, 'p'));
    QTest::qWait(300);
    QVERIFY(f.form->TcpPanel()->Connected());
    f.form->Button3Click();
    QTRY_COMPARE(f.panel->frames(9).size(), 3);
}

QTEST_MAIN(TestAnswers)
#include "tst_answers.moc"
