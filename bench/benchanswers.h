#pragma once
// Cost of one handled answer, per kind: answers written by raw peers on
// 127.0.0.1 into the window's real links and handed to TCPDataAvailable, as
// the link does. Under callgrind each kind and part is collected on its own
// and dumped as a part named "answer:<kind>:<part>:n=<count>"; without
// callgrind the same parts are timed.

#include "benchchild.h"

#include "answers.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define BENCH_HAVE_CALLGRIND 1
#else
#define BENCH_HAVE_CALLGRIND 0
#define RUNNING_ON_VALGRIND 0
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#define CALLGRIND_TOGGLE_COLLECT
#define CALLGRIND_DUMP_STATS_AT(name) (void)(name)
#endif

struct AnswerKind {
    const char *name;
    const char *label;
};

inline const AnswerKind kAnswerKinds[] = {
    {"status", "status (15 bytes)"},
    {"power", "power parameters (73 bytes)"},
    {"daily", "daily energy (11 bytes)"},
    {"total", "total energy (11 bytes) + totals + 3 panel messages"},
    {"odd", "other size (40 bytes), dropped"},
    {"blob", "over 100 bytes (200), discarded"},
};

// The parts measured per kind:
//  handler: TCPDataAvailable alone (decode, readouts, totals, panel send);
//  repaint: the event-loop pass after it, which paints the changed readouts;
//  whole:   both through the real path: the event loop sees the socket
//           readable, the link reads and calls the handler, then repaints.
inline const char *const kAnswerParts[] = {"handler", "repaint", "whole"};

namespace answerbench {

inline int rawListener(quint16 *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return -1;
    *port = ntohs(a.sin_port);
    return fd;
}

inline int acceptWithin(int listener, int ms)
{
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1)
        return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

inline int waiting(int fd)
{
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

inline void drain(int fd)
{
    char buf[4096];
    while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
}

inline QByteArray answerBytes(const char *kind, int i)
{
    const QByteArray k(kind);
    if (k == "status")
        return encodeStatusAnswer(i % 2 ? InverterState::FeedInMpp : InverterState::RegulatedFeedIn);
    if (k == "power") {
        PowerParameters p;
        for (int b = 0; b < PowerParameters::BlockCount; ++b) {
            p.blocks[b].rawVoltage = quint16(2300 + (i * 7 + b) % 100);
            p.blocks[b].rawCurrent = quint16(1000 + (i * 13 + b) % 900);
            p.blocks[b].rawPower = quint16(2000 + (i * 31 + b) % 3000);
        }
        return encodePowerAnswer(p);
    }
    if (k == "daily")
        return encodeEnergyAnswer(10000 + i * 17);
    if (k == "total")
        return encodeEnergyAnswer(123456789 + i * 1017);
    if (k == "odd")
        return QByteArray(40, char(0x5A + i % 3));
    return QByteArray(200, char(0xA5 + i % 3));
}

} // namespace answerbench

// Runs `count` answers of every kind per part (after a short warm-up) and
// prints what it did; under callgrind the figures are in the dump parts.
inline int runAnswers(int count)
{
    using namespace answerbench;
    prepareApplication();
    const bool callgrind = BENCH_HAVE_CALLGRIND && RUNNING_ON_VALGRIND;

    QTemporaryDir dir;
    int listeners[8] = {};
    quint16 ports[8] = {};
    for (int i = 1; i <= 7; ++i) {
        listeners[i] = rawListener(&ports[i]);
        if (listeners[i] < 0) {
            std::fprintf(stderr, "answers: cannot listen on 127.0.0.1\n");
            return 1;
        }
    }
    QString ini = QStringLiteral("[Hosts]\n");
    for (int slot = 1; slot <= 6; ++slot)
        ini += QStringLiteral("Host%1Name=Inverter %1\nHost%1IP=127.0.0.1\nHost%1Port=%2\n").arg(slot).arg(ports[slot]);
    ini += QStringLiteral("[Panel]\nPanelIP=127.0.0.1\nPanelPort=%1\n").arg(ports[7]);
    QFile f(dir.filePath(QStringLiteral("param.ini")));
    f.open(QIODevice::WriteOnly);
    f.write(ini.toUtf8());
    f.close();

    // The product durations, but no 500 ms idle waits between the three panel
    // messages: the event passes of the pause stay, the idle time is no cost.
    Durations d = Durations::product();
    d.panelPause = 0;
    TForm2 form(f.fileName(), d);
    int handled = 0;
    TSimpleTCPClient *link = form.TCP(1);
    auto onData = link->OnDataAvailable;
    link->OnDataAvailable = [&](TSimpleTCPClient *s, int size) {
        onData(s, size);
        ++handled;
    };
    form.show();
    waitMs(200);
    setTimerEnabled(form.Timer2(), false); // no tick may fall into a measured part
    form.Timer2Timer();
    int peers[8] = {};
    for (int i = 1; i <= 7; ++i)
        peers[i] = acceptWithin(listeners[i], 5000);
    QElapsedTimer waitClock;
    waitClock.start();
    auto allConnected = [&] {
        for (int slot = 1; slot <= 6; ++slot) {
            if (!form.TCP(slot)->Connected())
                return false;
        }
        return form.TcpPanel()->Connected();
    };
    while (!allConnected() && waitClock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!allConnected() || peers[1] < 0 || peers[7] < 0) {
        std::fprintf(stderr, "answers: the links did not connect\n");
        return 1;
    }
    form.state().QuietLog = true; // as with Auto-Read ticked: no reply-size log lines
    waitMs(200);

    const int linkFd = link->SocketHandle();
    auto deliver = [&](const char *kind, int i) {
        const QByteArray bytes = answerBytes(kind, i);
        const QByteArray k(kind);
        if (k == "daily" || k == "total") {
            const Command c = k == "daily" ? Command::DailyEnergy : Command::TotalEnergy;
            form.state().LastCommandOnLink[1] = qint8(c);
            form.state().LastCommand = qint8(c);
        }
        form.state().ActiveInverter = 1;
        ::send(peers[1], bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
        QElapsedTimer spin;
        spin.start();
        while (waiting(linkFd) < bytes.size() && spin.elapsed() < 1000) {
        }
        return int(bytes.size());
    };

    CALLGRIND_START_INSTRUMENTATION;
    const int warmup = 20;
    QElapsedTimer clock;
    for (const AnswerKind &kind : kAnswerKinds) {
        for (const char *part : kAnswerParts) {
            const QByteArray p(part);
            qint64 ns = 0;
            for (int i = 0; i < warmup + count; ++i) {
                const bool measured = i >= warmup;
                const int size = deliver(kind.name, i);
                const int before = handled;
                auto begin = [&] {
                    if (measured) {
                        CALLGRIND_TOGGLE_COLLECT;
                        clock.start();
                    }
                };
                auto end = [&] {
                    if (measured) {
                        ns += clock.nsecsElapsed();
                        CALLGRIND_TOGGLE_COLLECT;
                    }
                };
                if (p == "handler") {
                    begin();
                    form.TCPDataAvailable(1, size);
                    end();
                    QCoreApplication::processEvents();
                } else if (p == "repaint") {
                    form.TCPDataAvailable(1, size);
                    begin();
                    QCoreApplication::processEvents();
                    end();
                } else {
                    begin();
                    for (int spins = 0; handled == before && spins < 100000; ++spins)
                        QCoreApplication::processEvents();
                    QCoreApplication::processEvents();
                    end();
                }
                drain(peers[7]);
            }
            const QByteArray dumpName = QByteArray("answer:") + kind.name + ':' + part + ":n=" + QByteArray::number(count);
            CALLGRIND_DUMP_STATS_AT(dumpName.constData());
            if (!callgrind)
                emitLine(QStringLiteral("%1 %2 ns_per_answer=%3").arg(kind.name, part).arg(double(ns) / count, 0, 'f', 0));
        }
    }
    CALLGRIND_STOP_INSTRUMENTATION;
    if (callgrind)
        emitLine(QStringLiteral("answers: %1 per kind and part collected into callgrind dump parts").arg(count));
    form.close();
    for (int i = 1; i <= 7; ++i) {
        if (peers[i] >= 0)
            ::close(peers[i]);
        ::close(listeners[i]);
    }
    return 0;
}

struct AnswerCost {
    QString kind, part;
    int count = 0;
    double instructionsPerAnswer = 0;
};

// Reads the dump parts of a callgrind run of `answers` (base, base.1, ...).
inline QList<AnswerCost> readCallgrindParts(const QString &base)
{
    QList<AnswerCost> costs;
    const QFileInfo info(base);
    QDirIterator it(info.absolutePath(), {info.fileName() + QStringLiteral("*")}, QDir::Files);
    while (it.hasNext()) {
        QFile f(it.next());
        if (!f.open(QIODevice::ReadOnly))
            continue;
        QString trigger;
        double total = -1;
        for (const QByteArray &raw : f.readAll().split('\n')) {
            const QByteArray line = raw.trimmed();
            if (line.startsWith("desc: Trigger: Client Request: "))
                trigger = QString::fromUtf8(line.mid(31));
            else if (line.startsWith("totals:") || (total < 0 && line.startsWith("summary:")))
                total = line.mid(line.indexOf(':') + 1).trimmed().split(' ').first().toDouble();
        }
        const QStringList name = trigger.split(QLatin1Char(':'));
        if (name.size() != 4 || name[0] != QLatin1String("answer") || total < 0)
            continue;
        AnswerCost c;
        c.kind = name[1];
        c.part = name[2];
        c.count = name[3].mid(2).toInt();
        if (c.count > 0)
            c.instructionsPerAnswer = total / c.count;
        costs.append(c);
    }
    return costs;
}
