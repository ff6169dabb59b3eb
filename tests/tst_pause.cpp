// The pause of the waiting handlers: at least its time, events handled as
// they come, and an end that never holds the program up.
#include "app/pause.h"
#include "app/tform2.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

class TestPause : public QObject {
    Q_OBJECT
private slots:
    void lastsAtLeastItsTime_data();
    void lastsAtLeastItsTime();
    void handlesEventsAsTheyCome();
    void nestedPausesUnwindInOrder();
    void stopEndsEveryWaitAtOnce();
    void timerEnabledKeepsARunningInterval();
    void quitEndsWaitsPromptly(); // last: it leaves the application quitting
};

void TestPause::lastsAtLeastItsTime_data()
{
    QTest::addColumn<int>("ms");
    QTest::newRow("0") << 0;
    QTest::newRow("1") << 1;
    QTest::newRow("50") << 50;
    QTest::newRow("200") << 200;
}

void TestPause::lastsAtLeastItsTime()
{
    QFETCH(int, ms);
    EventPause pause;
    QElapsedTimer t;
    t.start();
    pause.wait(ms);
    QVERIFY(t.nsecsElapsed() >= qint64(ms) * 1000000);
    QVERIFY(t.elapsed() < ms + 200);
}

// A timer due 10 ms into a 300 ms pause runs at about 10 ms, not after the
// pause; one posted during the pause's last moment runs before it returns.
void TestPause::handlesEventsAsTheyCome()
{
    EventPause pause;
    QElapsedTimer t;
    t.start();
    qint64 ranAt = -1;
    QTimer::singleShot(10, Qt::PreciseTimer, [&] { ranAt = t.elapsed(); });
    bool late = false;
    QTimer::singleShot(299, Qt::PreciseTimer, [&] { QMetaObject::invokeMethod(qApp, [&] { late = true; }, Qt::QueuedConnection); });
    pause.wait(300);
    QVERIFY2(ranAt >= 10 && ranAt < 250, qPrintable(QString::number(ranAt)));
    QVERIFY(late);
}

void TestPause::nestedPausesUnwindInOrder()
{
    EventPause pause;
    QStringList order;
    QElapsedTimer t;
    t.start();
    QTimer::singleShot(20, [&] {
        order << "inner start";
        pause.wait(200);
        order << "inner end";
    });
    pause.wait(50);
    order << "outer end";
    // The outer wait cannot return while the nested one runs on its stack.
    QCOMPARE(order, (QStringList{"inner start", "inner end", "outer end"}));
    QVERIFY(t.elapsed() >= 220);
}

void TestPause::stopEndsEveryWaitAtOnce()
{
    EventPause pause;
    QElapsedTimer t;
    t.start();
    QTimer::singleShot(30, [&] { pause.stop(); });
    pause.wait(5000);
    QVERIFY(t.elapsed() < 1000);
    QVERIFY(pause.stopped());
    t.restart();
    pause.wait(5000); // later waits return at once
    QVERIFY(t.elapsed() < 50);
}

void TestPause::timerEnabledKeepsARunningInterval()
{
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(400);
    setTimerEnabled(&timer, true);
    QTest::qWait(200);
    setTimerEnabled(&timer, true); // already running: nothing changes
    QVERIFY2(timer.remainingTime() < 300, qPrintable(QString::number(timer.remainingTime())));
    setTimerEnabled(&timer, false);
    QVERIFY(!timer.isActive());
    setTimerEnabled(&timer, true); // false to true: a new full interval
    QVERIFY(timer.remainingTime() > 350);
}

void TestPause::quitEndsWaitsPromptly()
{
    EventPause pause;
    QElapsedTimer t;
    t.start();
    QTimer::singleShot(30, [] { QCoreApplication::exit(0); });
    pause.wait(5000);
    QVERIFY(t.elapsed() < 1000);
    QVERIFY(pause.stopped());
    EventPause later; // Qt makes new loops return at once now: no spinning
    t.restart();
    later.wait(300);
    QVERIFY(t.elapsed() < 100);
}

QTEST_MAIN(TestPause)
#include "tst_pause.moc"
