#pragma once

#include <QList>

class QEventLoop;

// The one way a handler waits. wait(ms) returns after at least ms
// milliseconds, having handled every event that came meanwhile as it came
// (the window repaints, clicks and link events run inside the wait), and
// then once more everything still pending.
//
// Once the program is ending (stop(), or the application was told to quit
// while a wait was running) every wait returns at once and handles nothing
// more, so that a running Auto-Read cycle or panel update runs through
// without delay and the program ends promptly.
class EventPause {
public:
    void wait(int ms);
    void stop();
    bool stopped() const { return m_stopped; }

private:
    bool m_stopped = false;
    QList<QEventLoop *> m_loops;
};
