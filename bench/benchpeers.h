#pragma once
// Local peers for the benchmark's fault cases that the simulated plant has no
// mode for. Everything listens on 127.0.0.1 only.

#include "answers.h" // brelvon_simcore: RequestScanner, encode*Answer

#include <QByteArray>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

// A peer that misbehaves in one scripted way on every connection.
class ScriptedPeer : public QObject {
public:
    enum class Kind {
        MidAnswerClose, // sends the first half of each answer, then closes gracefully
        Drip,           // sends each answer one byte every DripMs
        Garbage1MiB,    // answers every request with 1 MiB of random bytes
        AcceptClose,    // closes every connection gracefully as soon as it is accepted
        AcceptReset,    // resets every connection as soon as it is accepted
    };
    static constexpr int DripMs = 5;
    static constexpr int GarbageSize = 1024 * 1024;

    explicit ScriptedPeer(Kind kind) : m_kind(kind)
    {
        if (kind == Kind::Garbage1MiB) {
            QRandomGenerator random(4711);
            m_garbage.resize(GarbageSize);
            for (char &c : m_garbage)
                c = char(random.bounded(256));
        }
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] { onNewConnection(); });
    }

    quint16 port() const { return m_server.serverPort(); }
    int accepted() const { return m_accepted; }

private:
    static QByteArray answerTo(Command command)
    {
        InverterReading r;
        r.state = InverterState::FeedInMpp;
        r.dailyWh = 12345;
        r.totalWh = 23456789;
        return encodeAnswer(command, r);
    }

    void onNewConnection()
    {
        while (QTcpSocket *s = m_server.nextPendingConnection()) {
            ++m_accepted;
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            if (m_kind == Kind::AcceptClose) {
                s->disconnectFromHost();
                continue;
            }
            if (m_kind == Kind::AcceptReset) {
                const linger noLinger{1, 0};
                ::setsockopt(int(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
                s->abort();
                s->deleteLater();
                continue;
            }
            auto scanner = std::make_shared<RequestScanner>();
            auto dripQueue = std::make_shared<QByteArray>();
            QTimer *dripTimer = nullptr;
            if (m_kind == Kind::Drip) {
                dripTimer = new QTimer(s);
                dripTimer->setInterval(DripMs);
                connect(dripTimer, &QTimer::timeout, s, [s, dripQueue, dripTimer] {
                    if (dripQueue->isEmpty() || s->state() != QAbstractSocket::ConnectedState) {
                        dripTimer->stop();
                        return;
                    }
                    s->write(dripQueue->left(1));
                    dripQueue->remove(0, 1);
                });
            }
            connect(s, &QTcpSocket::readyRead, s, [this, s, scanner, dripQueue, dripTimer] {
                const QByteArray bytes = s->readAll();
                for (const Command command : scanner->feed(bytes)) {
                    if (s->state() != QAbstractSocket::ConnectedState)
                        return;
                    const QByteArray answer = answerTo(command);
                    switch (m_kind) {
                    case Kind::MidAnswerClose:
                        s->write(answer.left(answer.size() / 2));
                        s->disconnectFromHost(); // what was written still goes out first
                        return;
                    case Kind::Drip:
                        dripQueue->append(answer);
                        if (!dripTimer->isActive())
                            dripTimer->start();
                        break;
                    case Kind::Garbage1MiB:
                        s->write(m_garbage);
                        break;
                    default:
                        break;
                    }
                }
            });
        }
    }

    Kind m_kind;
    QTcpServer m_server;
    QByteArray m_garbage;
    int m_accepted = 0;
};

// A listener whose accept queue is full: every further connection attempt to
// its port stays unanswered (the kernel drops the SYN), so a client's
// non-blocking connect never completes.
class StalledListener {
public:
    StalledListener() = default;
    StalledListener(const StalledListener &) = delete;
    StalledListener &operator=(const StalledListener &) = delete;
    ~StalledListener()
    {
        if (m_filler >= 0)
            ::close(m_filler);
        if (m_listen >= 0)
            ::close(m_listen);
    }

    // Listens with a backlog of 0 and fills the queue with one connection
    // that is never accepted. Returns false when a test connection still
    // completes (the stall cannot be made on this kernel).
    bool start()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
            || ::listen(m_listen, 0) != 0 || ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            return false;
        m_port = ntohs(a.sin_port);
        m_filler = connectWithin(a, 1000);
        if (m_filler < 0)
            return false;
        const int probe = connectWithin(a, 300);
        if (probe >= 0) {
            ::close(probe);
            return false;
        }
        return true;
    }

    quint16 port() const { return m_port; }

private:
    // A connection to a, or -1 when it is not complete after ms.
    static int connectWithin(const sockaddr_in &a, int ms)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0)
            return fd;
        pollfd p{fd, POLLOUT, 0};
        int err = 0;
        socklen_t len = sizeof err;
        if (errno == EINPROGRESS && ::poll(&p, 1, ms) == 1
            && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
            return fd;
        ::close(fd);
        return -1;
    }

    int m_listen = -1;
    int m_filler = -1;
    quint16 m_port = 0;
};

// A port on 127.0.0.1 where nothing listens: connections to it are refused.
inline quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const quint16 port = server.serverPort();
    server.close();
    return port;
}
