#include "simpletcp.h"

#include "hostlookup.h"
#include "socketerrors.h"
#include "socketreadiness.h"

#include <QBuffer>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// A read notification hands at most this much to the application before it
// returns to the event loop; a peer that sends without end cannot hold the
// window. The notification comes again while bytes remain.
constexpr int kReadBudget = 64 * 1024;
constexpr int kDiscardChunk = 4096;

ExceptionHandler &exceptionHandler()
{
    static ExceptionHandler handler;
    return handler;
}
} // namespace

ESocketError::ESocketError(const QString &message) : std::runtime_error(message.toStdString()) {}

QString ESocketError::message() const
{
    return QString::fromStdString(what());
}

void setApplicationExceptionHandler(ExceptionHandler handler)
{
    exceptionHandler() = std::move(handler);
}

void HandleApplicationException(const std::exception &e)
{
    const QString message = QString::fromLocal8Bit(e.what());
    std::fprintf(stderr, "brelvon: %s\n", qPrintable(message));
    if (exceptionHandler())
        exceptionHandler()(message);
}

// ---------------------------------------------------------------------------
// TCustomSimpleSocket

TCustomSimpleSocket::TCustomSimpleSocket(QObject *owner, const Durations &durations)
    : QObject(owner), m_durations(durations)
{
    m_connectTimeout = new QTimer(this);
    m_connectTimeout->setSingleShot(true);
    m_connectTimeout->setTimerType(Qt::PreciseTimer);
    connect(m_connectTimeout, &QTimer::timeout, this, [this] {
        NotifyWindowProc(m_socket, makeNotification(SocketEvent::Connect, WsaError::TimedOut));
    });
}

TCustomSimpleSocket::~TCustomSimpleSocket()
{
    // A concrete component closes its connection first; this only makes sure
    // no descriptor outlives the link.
    if (m_readiness)
        m_readiness->stop();
    if (m_socket >= 0)
        ::close(m_socket);
}

void TCustomSimpleSocket::NotifyWindowProc(int Socket, quint32 Notification)
{
    try {
        HandleSocketMessage(Socket, Notification);
    } catch (const std::exception &e) {
        HandleApplicationException(e);
    } catch (...) {
        HandleApplicationException(std::runtime_error("unknown exception in a socket notification"));
    }
}

void TCustomSimpleSocket::HandleSocketMessage(int Socket, quint32 Notification)
{
    const int error = int(Notification >> 16);
    if (error > 10000) {
        ReportError(Socket, error);
        return;
    }
    switch (Notification & 0xFFFF) {
    case SocketEvent::Read: readLoop(Socket); break;
    case SocketEvent::Accept: HandleAccept(); break;
    case SocketEvent::Connect: HandleConnect(); break;
    case SocketEvent::Close: HandleClose(Socket); break;
    default: break;
    }
}

void TCustomSimpleSocket::ReportError(int Socket, int ErrorCode)
{
    const QString message = SocketErrorText(ErrorCode);
    if (OnError)
        OnError(this, Socket, ErrorCode, message);
    else
        throw ESocketError(message);
}

bool TCustomSimpleSocket::isCurrent(int Socket, quint64 generation) const
{
    return Socket >= 0 && Socket == m_socket && generation == m_generation;
}

void TCustomSimpleSocket::readLoop(int Socket)
{
    const quint64 generation = m_generation;
    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    bool handled = false;
    int budget = kReadBudget;
    for (;;) {
        // A handler may have let other events run; if they closed this socket
        // its number may already belong to another connection: never touch it.
        if (!isCurrent(Socket, generation)) {
            TCustomSimpleSocket::ReportError(Socket, WsaError::NotSocket);
            return;
        }
        int count = 0;
        if (::ioctl(Socket, FIONREAD, &count) < 0) {
            ReportError(Socket, wsaErrorFromErrno(errno));
            return;
        }
        if (count <= 0 || budget <= 0)
            break;
        handled = false;
        HandleDataAvailable(count, handled);
        if (!handled)
            ReceiveIntoStream(Socket, stream, std::min(count, budget), false);
        budget -= std::min(count, budget);
    }
    if (!handled && stream.size() > 0) {
        stream.seek(0);
        HandleStreamRead(stream);
    }
}

bool TCustomSimpleSocket::openSocket()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        ReportError(-1, wsaErrorFromErrno(errno));
        return false;
    }
    m_socket = fd;
    ++m_generation;
    m_readiness = new SocketReadiness(fd, [this](int s, quint32 n) { NotifyWindowProc(s, n); }, this);
    return true;
}

void TCustomSimpleSocket::watchConnect()
{
    m_readiness->watchConnect();
    m_connectTimeout->start(m_durations.connectTimeout);
}

void TCustomSimpleSocket::stopConnectTimeout()
{
    m_connectTimeout->stop();
}

bool TCustomSimpleSocket::closeSocket()
{
    m_connectTimeout->stop();
    if (m_socket < 0) {
        ReportError(m_socket, WsaError::NotSocket);
        return false;
    }
    if (m_readiness) {
        m_readiness->stop(); // before the number can be handed out again
        m_readiness->deleteLater();
        m_readiness = nullptr;
    }
    ::shutdown(m_socket, SHUT_RDWR);
    const linger noLinger{1, 0};
    ::setsockopt(m_socket, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
    // close() releases the descriptor even when it reports an error, so the
    // link lets go of the number in every case.
    ::close(m_socket);
    m_socket = -1;
    ++m_generation;
    return true;
}

int TCustomSimpleSocket::SendOnSocket(int Socket, const void *Buffer, int Count)
{
    if (Socket == -1 || Count <= 0)
        return 0;
    if (Socket != m_socket) { // not ours: it may belong to anyone by now
        ReportError(Socket, WsaError::NotSocket);
        return -1;
    }
    const ssize_t sent = ::send(Socket, Buffer, size_t(Count), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
        const int err = errno;
        int code = wsaErrorFromErrno(err);
        if (err == EAGAIN || err == ENOTCONN) {
            // An attempt still under way: report it as "not connected".
            sockaddr_in peer;
            socklen_t len = sizeof peer;
            if (::getpeername(Socket, reinterpret_cast<sockaddr *>(&peer), &len) < 0 && errno == ENOTCONN)
                code = WsaError::NotConnected;
        }
        ReportError(Socket, code);
        return -1;
    }
    return int(sent);
}

int TCustomSimpleSocket::ReceiveOnSocket(int Socket, void *Buffer, int Count, bool WaitAll)
{
    return receiveImpl(Socket, static_cast<char *>(Buffer), Count, WaitAll);
}

int TCustomSimpleSocket::DiscardOnSocket(int Socket, int Count, bool WaitAll)
{
    return receiveImpl(Socket, nullptr, Count, WaitAll);
}

int TCustomSimpleSocket::ReceiveIntoStream(int Socket, QIODevice &Stream, int Count, bool WaitAll)
{
    if (Count <= 0)
        return 0;
    QByteArray buffer(Count, Qt::Uninitialized);
    const int got = ReceiveOnSocket(Socket, buffer.data(), Count, WaitAll);
    if (got > 0)
        Stream.write(buffer.constData(), got);
    return got;
}

int TCustomSimpleSocket::receiveImpl(int Socket, char *Buffer, int Count, bool WaitAll)
{
    if (Socket < 0 || Socket != m_socket) {
        ReportError(Socket, WsaError::NotSocket);
        return -1;
    }
    if (Count <= 0)
        return 0;

    char scratch[kDiscardChunk];
    // One read of at most the remaining count; into the caller's buffer, or
    // into the scratch chunk when the bytes are to be dropped.
    auto readSome = [&](int got) -> ssize_t {
        const int want = Buffer ? Count - got : std::min(Count - got, kDiscardChunk);
        return ::recv(Socket, Buffer ? Buffer + got : scratch, size_t(want), MSG_DONTWAIT);
    };

    ssize_t first = readSome(0);
    if (first < 0) {
        ReportError(Socket, wsaErrorFromErrno(errno));
        return -1;
    }
    int got = int(first);
    const bool discarding = Buffer == nullptr;
    if (first == 0 || (!WaitAll && !discarding))
        return got;

    using Clock = std::chrono::steady_clock;
    auto lastProgress = Clock::now();
    const auto stall = std::chrono::milliseconds(m_durations.receiveStall);
    while (got < Count) {
        int waiting = 0;
        if (::ioctl(Socket, FIONREAD, &waiting) < 0) {
            ReportError(Socket, wsaErrorFromErrno(errno));
            return got;
        }
        if (waiting == 0) {
            if (!WaitAll)
                return got; // a discard without waiting takes what is there
            const auto left = stall - (Clock::now() - lastProgress);
            if (left <= Clock::duration::zero())
                return got; // the peer stopped sending
            pollfd p{Socket, POLLIN, 0};
            const int ms = int(std::chrono::ceil<std::chrono::milliseconds>(left).count());
            if (::poll(&p, 1, ms) <= 0)
                continue; // time-out or signal: the stall check decides
            if (::ioctl(Socket, FIONREAD, &waiting) == 0 && waiting == 0) {
                // Readable with nothing waiting: the peer has closed.
                const ssize_t r = readSome(got);
                if (r <= 0)
                    return got;
                got += int(r);
                lastProgress = Clock::now();
            }
            continue;
        }
        const ssize_t more = readSome(got);
        if (more < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            ReportError(Socket, wsaErrorFromErrno(errno));
            return got;
        }
        if (more == 0)
            return got;
        got += int(more);
        lastProgress = Clock::now();
    }
    return got;
}

// ---------------------------------------------------------------------------
// TSimpleTCPClient

TSimpleTCPClient::TSimpleTCPClient(QObject *owner, const Durations &durations)
    : TCustomSimpleSocket(owner, durations)
{
}

TSimpleTCPClient::~TSimpleTCPClient()
{
    m_destroying = true;
    try {
        AssignConnected(false);
    } catch (const std::exception &e) {
        HandleApplicationException(e);
    }
    abandonLookup();
}

void TSimpleTCPClient::AssignConnected(bool Value)
{
    if (Value == m_connectRequested)
        return;
    m_connectRequested = Value;
    if (!Value) {
        disconnectNow();
        return;
    }

    const QByteArray host = m_host.toLatin1();
    const in_addr_t address = m_host.isEmpty() ? INADDR_NONE : ::inet_addr(host.constData());
    if (address != INADDR_NONE) {
        connectTo(address);
        return;
    }
    if (!isValidHostName(m_host) || host != m_host.toUtf8()) {
        // No host name at all: fail exactly as an unknown name does, without
        // bothering a name server.
        ReportError(-1, WsaError::Fault);
        return;
    }
    m_lookup = HostLookup::start(m_host, this, [this](bool ok, quint32 found) {
        m_lookup.reset();
        try {
            if (ok)
                connectTo(found);
            else
                ReportError(-1, WsaError::Fault);
        } catch (const std::exception &e) {
            HandleApplicationException(e);
        }
    });
}

void TSimpleTCPClient::connectTo(quint32 address)
{
    if (!openSocket())
        return;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(m_port);
    peer.sin_addr.s_addr = address;
    watchConnect();
    if (::connect(m_socket, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) == 0 || errno == EINPROGRESS)
        return; // the outcome arrives as a connect notification
    ReportError(m_socket, wsaErrorFromErrno(errno));
}

void TSimpleTCPClient::abandonLookup()
{
    if (m_lookup) {
        m_lookup->cancel();
        m_lookup.reset();
    }
}

void TSimpleTCPClient::disconnectNow()
{
    if (m_lookup && m_socket < 0) {
        // Only a name lookup was under way: it is dropped without a word.
        abandonLookup();
        return;
    }
    if (!closeSocket())
        return;
    m_connected = false;
    if (!m_destroying && OnDisconnected)
        OnDisconnected(this);
}

void TSimpleTCPClient::ReportError(int Socket, int ErrorCode)
{
    AssignConnected(false);
    TCustomSimpleSocket::ReportError(Socket, ErrorCode);
}

void TSimpleTCPClient::HandleConnect()
{
    stopConnectTimeout();
    m_connected = true;
    if (OnConnected)
        OnConnected(this);
}

void TSimpleTCPClient::HandleClose(int)
{
    AssignConnected(false);
    if (m_destroying)
        return;
    if (OnDisconnected)
        OnDisconnected(this);
    if (!AutoTryReconnect)
        return;
    // A peer that accepts and closes at once must not get a reconnect storm:
    // one immediate reconnect per guard period, the rest waits for the
    // application's next attempt.
    if (m_lastAutoReconnect.isValid() && m_lastAutoReconnect.elapsed() < m_durations.reconnectGuard)
        return;
    m_lastAutoReconnect.start();
    AssignConnected(true);
}

void TSimpleTCPClient::HandleDataAvailable(int Count, bool &Handled)
{
    Handled = bool(OnDataAvailable);
    if (Handled)
        OnDataAvailable(this, Count);
}

void TSimpleTCPClient::HandleStreamRead(QIODevice &Stream)
{
    if (OnRead)
        OnRead(this, Stream);
}

template <typename Change> void TSimpleTCPClient::changeAddress(Change change)
{
    if (!m_connected) {
        change();
        if (m_lookup) {
            // The name under lookup is no longer wanted; the next attempt
            // uses the new address.
            abandonLookup();
            m_connectRequested = false;
        }
        return;
    }
    AssignConnected(false);
    change();
    AssignConnected(true);
}

void TSimpleTCPClient::AssignHost(const QString &Value)
{
    if (Value == m_host)
        return;
    if (m_connected && !AllowChangeHostAndPortOnConnection)
        throw ESocketError(QStringLiteral("Can not change Host while connected"));
    changeAddress([&] { m_host = Value; });
}

void TSimpleTCPClient::AssignPort(quint16 Value)
{
    if (Value == m_port)
        return;
    if (m_connected && !AllowChangeHostAndPortOnConnection)
        throw ESocketError(QStringLiteral("Can not change Port while connected"));
    changeAddress([&] { m_port = Value; });
}
