#pragma once

// Peers and probes for fault tests: listeners that never complete an
// attempt, a peer that floods, a process out of descriptors, a time-stamped
// view of the event log, and this process's CPU time and memory.

#include <QElapsedTimer>
#include <QList>
#include <QMetaObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <netinet/in.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

class QPlainTextEdit;
class TForm2;

// A port on 127.0.0.1 where nothing listens: connections are refused.
quint16 closedPort();

// A raw listener on 127.0.0.1 at a free port, whose port a later listener
// may take over at once (SO_REUSEADDR).
int listenOnLoopback(int backlog, sockaddr_in &address);

// A listener whose accept queue is full and never drained: a connection
// attempt to it stays pending, as to a host that drops every packet.
struct StuckListener {
    StuckListener();
    ~StuckListener();
    StuckListener(const StuckListener &) = delete;
    StuckListener &operator=(const StuckListener &) = delete;
    int listener = -1;
    std::vector<int> fillers;
    quint16 port = 0;
};

// A peer on a thread of its own that sends 64 KiB blocks without end, as
// fast as the monitor takes them: it never waits for the window's event loop,
// so only the monitor itself can give that loop its turn.
class FloodPeer {
public:
    FloodPeer();
    // Ends the flood with a graceful close and stops listening.
    ~FloodPeer();

    quint16 port = 0;
    std::atomic<qint64> sent{0};

private:
    int m_listener = -1;
    std::atomic<int> m_connection{-1};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Lowers the soft RLIMIT_NOFILE of this process to the lowest free
// descriptor number, so that the next socket() fails with EMFILE while every
// descriptor already open goes on working; restores the limit when it ends.
struct DescriptorsExhausted {
    DescriptorsExhausted();
    ~DescriptorsExhausted();
    rlimit saved{};
    bool active = false;
};

// Time-stamps every line the window appends to its log, and every tick of
// the connection timer, on one clock.
class LogWatch {
public:
    struct Line {
        qint64 atMs;
        QString text;
    };

    explicit LogWatch(TForm2 &form);
    ~LogWatch();

    QList<qint64> times(const QString &prefix) const
    {
        QList<qint64> out;
        for (const Line &l : lines)
            if (l.text.startsWith(prefix))
                out << l.atMs;
        return out;
    }
    QStringList texts() const
    {
        QStringList out;
        for (const Line &l : lines)
            out << l.text;
        return out;
    }
    QString last() const { return lines.isEmpty() ? QString() : lines.last().text; }

    QList<Line> lines; // every line since the watch began, cleared or not
    QList<qint64> ticks;

private:
    void collect();

    QPlainTextEdit *m_memo;
    QElapsedTimer m_clock;
    qsizetype m_seen = 0;
    QMetaObject::Connection m_textConnection, m_tickConnection;
};

// CPU time (user + system) and resident memory of this process.
qint64 cpuMs();
qint64 residentKiB();
