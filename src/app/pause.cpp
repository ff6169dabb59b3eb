#include "pause.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

void EventPause::wait(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!m_stopped) {
        const qint64 left = ms - clock.elapsed();
        if (left <= 0)
            break;
        QEventLoop loop;
        bool timedOut = false;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
            timedOut = true;
            loop.quit();
        });
        timer.start(int(left));
        m_loops.append(&loop);
        loop.exec();
        m_loops.removeOne(&loop);
        // Anything but our own timer ending the loop means the application
        // is quitting (Qt ends every running loop then, and later loops
        // return at once).
        if (!timedOut)
            m_stopped = true;
    }
    if (!m_stopped)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void EventPause::stop()
{
    m_stopped = true;
    for (QEventLoop *loop : std::as_const(m_loops))
        loop->quit();
}
