#include "faultpeers.h"

#include "app/tform2.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QTest>
#include <QTcpServer>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

quint16 closedPort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

int listenOnLoopback(int backlog, sockaddr_in &address)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::listen(fd, backlog);
    socklen_t len = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &len);
    return fd;
}

StuckListener::StuckListener()
{
    sockaddr_in a;
    listener = listenOnLoopback(0, a);
    port = ntohs(a.sin_port);
    for (int i = 0; i < 3; ++i) {
        const int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(f, reinterpret_cast<sockaddr *>(&a), sizeof a);
        fillers.push_back(f);
    }
    QTest::qWait(50);
}

StuckListener::~StuckListener()
{
    for (int f : fillers)
        ::close(f);
    ::close(listener);
}

FloodPeer::FloodPeer()
{
    sockaddr_in a;
    m_listener = listenOnLoopback(1, a);
    port = ntohs(a.sin_port);
    m_thread = std::thread([this] {
        const int c = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        m_connection = c;
        const QByteArray block(64 * 1024, '\x5a');
        while (c >= 0 && !m_stop) {
            const ssize_t n = ::send(c, block.constData(), size_t(block.size()), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
    });
}

FloodPeer::~FloodPeer()
{
    m_stop = true;
    if (m_connection >= 0)
        ::shutdown(m_connection, SHUT_WR); // wakes a blocked send; the close follows the data
    ::shutdown(m_listener, SHUT_RDWR);     // wakes a blocked accept
    m_thread.join();
    if (m_connection >= 0)
        ::close(m_connection);
    ::close(m_listener);
}


DescriptorsExhausted::DescriptorsExhausted()
{
    if (::getrlimit(RLIMIT_NOFILE, &saved) != 0)
        return;
    const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (lowestFree < 0)
        return;
    ::close(lowestFree);
    rlimit lowered = saved;
    lowered.rlim_cur = rlim_t(lowestFree);
    active = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
}

DescriptorsExhausted::~DescriptorsExhausted()
{
    if (active)
        ::setrlimit(RLIMIT_NOFILE, &saved);
}

LogWatch::LogWatch(TForm2 &form) : m_memo(form.widgets().Memo1)
{
    m_clock.start();
    m_textConnection = QObject::connect(m_memo, &QPlainTextEdit::textChanged, m_memo, [this] { collect(); });
    m_tickConnection = QObject::connect(form.Timer2(), &QTimer::timeout, m_memo,
                                        [this] { ticks << m_clock.elapsed(); });
}

LogWatch::~LogWatch()
{
    QObject::disconnect(m_textConnection);
    QObject::disconnect(m_tickConnection);
}

void LogWatch::collect()
{
    const QString text = m_memo->toPlainText();
    const QStringList now = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    if (now.size() < m_seen)
        m_seen = 0; // "Clear Log"
    for (qsizetype i = m_seen; i < now.size(); ++i)
        lines.append({m_clock.elapsed(), now[i]});
    m_seen = now.size();
}


qint64 cpuMs()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (qint64(u.ru_utime.tv_sec) + u.ru_stime.tv_sec) * 1000 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}
