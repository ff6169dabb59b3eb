// Request buttons, group clicks and the Auto-Read cycle, against real local
// inverter peers that record every frame with the time it came.
#include "formfixture.h"
#include "app/widgets.h"
#include "net/simpletcp.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

namespace {
const QByteArray kStatus = QByteArray::fromHex("62ff03ff00574600");
const QByteArray kPower = QByteArray::fromHex("62ff03ff00435a00");
const QByteArray kDaily = QByteArray::fromHex("62ff03ff009d0000");
const QByteArray kTotal = QByteArray::fromHex("62ff03ff00455800");

QList<QByteArray> bytesOf(const QList<TestPeer::Chunk> &frames)
{
    QList<QByteArray> out;
    for (const auto &f : frames)
        out << f.bytes;
    return out;
}

int frameSum(const QByteArray &frame)
{
    int sum = 0;
    for (char c : frame)
        sum += quint8(c);
    return sum % 256;
}
} // namespace

class TestRequests : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qApp->setQuitOnLastWindowClosed(false); }
    void buttonsSendTheirFrames_data();
    void buttonsSendTheirFrames();
    void groupClickDuringPauseMovesActiveInverter();
    void requestWithoutSocketSendsNothing();
    void autoReadCycle();
    void autoReadGoesOnAfterClearedMidCycle();
    void autoReadPressesDisabledButtons();
    void closeDuringCycleRunsThroughSilently();
    void windowStaysResponsiveDuringCycle();
};

void TestRequests::buttonsSendTheirFrames_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("slot");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<int>("lastCommand");
    QTest::newRow("Daily Energy 2") << "SBD2" << 2 << QList<QByteArray>{kDaily} << -99;
    QTest::newRow("Total Energy 6") << "SBT6" << 6 << QList<QByteArray>{kTotal} << 0x45;
    QTest::newRow("Total Power 4") << "SBP4" << 4 << QList<QByteArray>{kStatus, kPower} << 0x43;
    QTest::newRow("Total Power 1") << "SBP1" << 1 << QList<QByteArray>{kStatus, kPower} << 0x43;
}

void TestRequests::buttonsSendTheirFrames()
{
    QFETCH(QString, button);
    QFETCH(int, slot);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(int, lastCommand);
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.form->GBClick(slot == 1 ? 3 : 1);
    const qint64 clickedAt = f.peer[slot]->elapsed();
    QTest::mouseClick(f.widget(button), Qt::LeftButton);
    QTRY_COMPARE(f.peer[slot]->frames(8).size(), frames.size());
    const auto got = f.peer[slot]->frames(8);
    QCOMPARE(bytesOf(got), frames);
    for (const QByteArray &frame : frames)
        QCOMPARE(frameSum(frame), 0);
    // Status, then the power request at least the pause after the click (a
    // frame can only arrive later than it was sent, never earlier).
    if (frames.size() == 2)
        QVERIFY(got[1].atMs - clickedAt >= f.durations.totalPowerPause - 1);
    QCOMPARE(f.form->state().ActiveInverter, slot);
    QCOMPARE(int(f.form->state().LastCommand), lastCommand);
    QTest::qWait(50);
    for (int other = 1; other <= 6; ++other) {
        if (other != slot)
            QVERIFY(f.peer[other]->received().isEmpty());
    }
}

void TestRequests::groupClickDuringPauseMovesActiveInverter()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    QTimer::singleShot(f.durations.totalPowerPause / 2, [&] {
        QTest::mouseClick(f.form->widgets().slot[3].GB, Qt::LeftButton, {}, QPoint(100, 4));
    });
    f.form->SBPClick(1);
    QCOMPARE(f.form->state().ActiveInverter, 3);
    QTRY_COMPARE(bytesOf(f.peer[1]->frames(8)), (QList<QByteArray>{kStatus, kPower}));
    QVERIFY(f.peer[3]->received().isEmpty());
}

void TestRequests::requestWithoutSocketSendsNothing()
{
    std::array<QString, 7> hosts;
    hosts[2] = QStringLiteral("Null");
    FormFixture f({}, FormFixture::fastDurations(), hosts);
    QVERIFY(f.showAndConnect());
    f.form->widgets().Memo1->clear();
    f.form->SBTClick(2);
    f.form->SBPClick(2);
    QTest::qWait(50);
    QVERIFY(f.peer[2]->received().isEmpty());
    QVERIFY(f.log().isEmpty());
    QCOMPARE(f.form->state().ActiveInverter, 2);
}

// Ticking Auto-Read: nothing at once; one interval later slots 1..5 are asked
// for status, power, daily and total energy, in order, with the pauses
// between; slot 6 never. The size lines are off from the first tick on.
void TestRequests::autoReadCycle()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    const Durations &d = f.durations;
    // Each peer's own clock at the tick; a frame arrives no earlier than it
    // was sent, so each must come at least its planned offset after the tick.
    std::array<qint64, 7> tickedAt{};
    for (int slot = 1; slot <= 6; ++slot)
        tickedAt[slot] = f.peer[slot]->elapsed();
    f.form->widgets().CB1->setChecked(true);
    QVERIFY(f.form->state().QuietLog);
    QCOMPARE(f.form->Timer1()->timerType(), Qt::PreciseTimer);
    QTRY_VERIFY_WITH_TIMEOUT(f.peer[5]->frames(8).size() == 4, 10000);

    const qint64 perSlot = d.totalPowerPause + 3 * d.pressPause;
    const qint64 within[4] = {0, d.totalPowerPause, d.totalPowerPause + d.pressPause,
                              d.totalPowerPause + 2 * d.pressPause};
    qint64 previousSlotLast = -1;
    for (int slot = 1; slot <= 5; ++slot) {
        const auto frames = f.peer[slot]->frames(8);
        QCOMPARE(bytesOf(frames).mid(0, 4), (QList<QByteArray>{kStatus, kPower, kDaily, kTotal}));
        for (int i = 0; i < 4; ++i) {
            const qint64 planned = d.pollTimerInterval + (slot - 1) * perSlot + within[i];
            QVERIFY2(frames[i].atMs - tickedAt[slot] >= planned - 1,
                     qPrintable(QStringLiteral("slot %1 frame %2").arg(slot).arg(i)));
            if (i > 0)
                QVERIFY(frames[i].atMs >= frames[i - 1].atMs);
        }
        // In order across slots (the peers' clocks started within a moment).
        const qint64 first = frames[0].atMs - tickedAt[slot];
        QVERIFY(first >= previousSlotLast - 5);
        previousSlotLast = frames[3].atMs - tickedAt[slot];
    }
    QVERIFY(f.peer[6]->received().isEmpty());

    // The next cycle starts one interval after this one ended: no earlier
    // than two intervals and a whole cycle after the tick.
    QTRY_VERIFY_WITH_TIMEOUT(f.peer[1]->frames(8).size() == 8, 10000);
    const qint64 cycle = 5 * perSlot;
    QVERIFY(f.peer[1]->frames(8)[4].atMs - tickedAt[1] >= 2 * d.pollTimerInterval + cycle - 1);

    // No size lines although answers of every size could come.
    for (const QString &line : f.log())
        QVERIFY(!line.contains(QStringLiteral("DataSize")));
    f.form->widgets().CB1->setChecked(false);
    QVERIFY(f.form->state().QuietLog); // never cleared
}

// The box cleared during a cycle: the cycle runs to its end and starts the
// timer again; polling goes on until the box is cleared between cycles.
void TestRequests::autoReadGoesOnAfterClearedMidCycle()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    const Durations &d = f.durations;
    bool clearedInCycle = false;
    QTimer::singleShot(d.pollTimerInterval + 2 * d.totalPowerPause, f.form.get(), [&] {
        clearedInCycle = f.peer[1]->frames(8).size() >= 2 && f.peer[5]->received().isEmpty();
        f.form->widgets().CB1->setChecked(false);
        QVERIFY(!f.form->Timer1()->isActive());
    });
    f.form->widgets().CB1->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(f.peer[1]->frames(8).size() == 8, 10000); // a second cycle came
    QVERIFY(clearedInCycle);
    QVERIFY(!f.form->widgets().CB1->isChecked());
    // Cleared between cycles, it stops.
    f.form->widgets().CB1->setChecked(false);
    QTRY_VERIFY(f.form->Timer1()->isActive() || f.peer[5]->frames(8).size() == 8);
    QTRY_COMPARE_WITH_TIMEOUT(f.peer[5]->frames(8).size(), 8, 10000);
    f.form->widgets().CB1->setChecked(true);
    f.form->widgets().CB1->setChecked(false);
    QVERIFY(!f.form->Timer1()->isActive());
    QTest::qWait(2 * d.pollTimerInterval);
    QCOMPARE(f.peer[1]->frames(8).size(), 8);
}

void TestRequests::autoReadPressesDisabledButtons()
{
    FormFixture f;
    f.peer[2]->stopListening();
    f.form->show();
    QTRY_VERIFY(f.form->TCP(1)->Connected());
    f.form->Timer2()->stop();
    QVERIFY(!f.form->widgets().slot[2].SBP->isEnabled());
    f.form->Timer1Timer(); // one cycle, run here
    QCOMPARE(f.peer[1]->frames(8).size(), 4);
    QCOMPARE(f.peer[3]->frames(8).size(), 4);
    QCOMPARE(f.form->state().ActiveInverter, 5);
}

// Closing the window in the middle of a cycle: the links close, the cycle
// runs through at once without sending, and nothing is sent afterwards.
void TestRequests::closeDuringCycleRunsThroughSilently()
{
    Durations d = FormFixture::fastDurations();
    d.totalPowerPause = 1000; // the close comes well inside the first pause
    FormFixture f({}, d);
    QVERIFY(f.showAndConnect());
    QTimer::singleShot(300, f.form.get(), [&] { f.form->close(); });
    QElapsedTimer t;
    t.start();
    f.form->Timer1Timer();
    // Waiting out the rest of the cycle would take over 2.7 s.
    QVERIFY2(t.elapsed() < d.totalPowerPause, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(bytesOf(f.peer[1]->frames(8)), QList<QByteArray>{kStatus});
    QTest::qWait(100);
    for (int slot = 2; slot <= 6; ++slot)
        QVERIFY(f.peer[slot]->received().isEmpty());
    QVERIFY(!f.form->isVisible());
}

// While a cycle runs with the product's pauses, a click is handled within
// milliseconds, not after the pause.
void TestRequests::windowStaysResponsiveDuringCycle()
{
    Durations d = FormFixture::fastDurations();
    d.totalPowerPause = 1000;
    d.pressPause = 500;
    FormFixture f({}, d);
    QVERIFY(f.showAndConnect());
    QElapsedTimer t;
    t.start();
    qint64 firedAt = -1;
    int activeAfterClick = 0;
    QTimer::singleShot(300, Qt::PreciseTimer, [&] { // inside the first 1000 ms pause
        firedAt = t.elapsed();
        QTest::mouseClick(f.form->widgets().slot[4].GB, Qt::LeftButton, {}, QPoint(100, 4));
        activeAfterClick = f.form->state().ActiveInverter;
    });
    QTimer::singleShot(2000, f.form.get(), [&] { f.form->close(); });
    f.form->Timer1Timer();
    QVERIFY2(firedAt >= 300 && firedAt < 450, qPrintable(QString::number(firedAt)));
    QCOMPARE(activeAfterClick, 4);
}

QTEST_MAIN(TestRequests)
#include "tst_requests.moc"
