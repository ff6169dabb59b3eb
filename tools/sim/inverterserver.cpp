#include "inverterserver.h"

#include "answers.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <algorithm>

namespace {
QString commandName(Command command)
{
    switch (command) {
    case Command::Status:
        return QStringLiteral("status");
    case Command::PowerParameters:
        return QStringLiteral("power parameters");
    case Command::DailyEnergy:
        return QStringLiteral("daily energy");
    case Command::TotalEnergy:
        return QStringLiteral("total energy");
    }
    return QStringLiteral("?");
}

QByteArray randomBytes(QRandomGenerator &random, qsizetype size)
{
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

constexpr int FloodTickMs = 20;
constexpr qsizetype FloodBlockSize = 64 * 1024;
} // namespace

// One accepted client and everything timed on it: the answer queue (late,
// split), the held answer (coalesce) and the fault timers. Deletes itself
// when the connection ends.
class InverterConnection : public QObject {
public:
    InverterConnection(InverterServer *server, QTcpSocket *socket);

    void closeGracefully();
    bool isOpen() const { return m_socket->state() == QAbstractSocket::ConnectedState; }

private:
    struct Outgoing {
        qint64 dueMs;
        QByteArray bytes;
    };

    void onReadyRead();
    void respond(Command command);
    void enqueue(qint64 dueMs, const QByteArray &bytes);
    void sendDue();
    void write(const QByteArray &bytes);
    void reset();
    void floodTick();

    InverterServer *m_server;
    QTcpSocket *m_socket;
    const FaultMode m_fault;
    RequestScanner m_scanner;
    QElapsedTimer m_clock;
    QList<Outgoing> m_queue;
    qint64 m_queuedBytes = 0;
    qint64 m_lastDueMs = 0;
    QTimer m_queueTimer;
    QByteArray m_held;
    QTimer m_faultTimer;
    QByteArray m_floodBlock;
    qsizetype m_floodOffset = 0;
    bool m_closing = false;
};

InverterConnection::InverterConnection(InverterServer *server, QTcpSocket *socket)
    : QObject(server), m_server(server), m_socket(socket), m_fault(server->m_fault)
{
    m_socket->setParent(this);
    // Qt stops reading from the kernel while this much is unread.
    m_socket->setReadBufferSize(64 * 1024);
    m_clock.start();
    m_queueTimer.setSingleShot(true);
    connect(&m_queueTimer, &QTimer::timeout, this, &InverterConnection::sendDue);
    connect(m_socket, &QTcpSocket::readyRead, this, &InverterConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (!m_closing)
            emit m_server->activity(m_server->prefix() + QStringLiteral("client closed the connection"));
        deleteLater();
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            deleteLater();
    });

    switch (m_fault.kind) {
    case FaultMode::Close:
        m_faultTimer.setSingleShot(true);
        connect(&m_faultTimer, &QTimer::timeout, this, [this] {
            emit m_server->activity(m_server->prefix() + QStringLiteral("fault close: closing the connection"));
            closeGracefully();
        });
        m_faultTimer.start(m_fault.value);
        break;
    case FaultMode::Reset:
        m_faultTimer.setSingleShot(true);
        connect(&m_faultTimer, &QTimer::timeout, this, &InverterConnection::reset);
        m_faultTimer.start(m_fault.value);
        break;
    case FaultMode::Flood:
        m_floodBlock = randomBytes(m_server->m_random, FloodBlockSize);
        connect(&m_faultTimer, &QTimer::timeout, this, &InverterConnection::floodTick);
        m_faultTimer.start(FloodTickMs);
        break;
    case FaultMode::Blob:
        connect(&m_faultTimer, &QTimer::timeout, this, [this] {
            write(randomBytes(m_server->m_random, FaultMode::BlobSize));
            emit m_server->activity(m_server->prefix() + QStringLiteral("fault blob: %1 bytes sent unasked")
                                                          .arg(FaultMode::BlobSize));
        });
        m_faultTimer.start(m_fault.value);
        break;
    default:
        break;
    }
}

void InverterConnection::closeGracefully()
{
    if (m_closing)
        return;
    m_closing = true;
    m_faultTimer.stop();
    m_queueTimer.stop();
    // Anything already written still goes out before the FIN.
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        deleteLater();
}

void InverterConnection::reset()
{
    emit m_server->activity(m_server->prefix() + QStringLiteral("fault reset: resetting the connection"));
    m_closing = true;
    const linger noLinger{1, 0};
    ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
    m_socket->abort();
    deleteLater();
}

void InverterConnection::onReadyRead()
{
    char chunk[4096];
    while (!m_closing && m_socket->bytesAvailable() > 0) {
        const qint64 n = m_socket->read(chunk, sizeof chunk);
        if (n <= 0)
            break;
        for (const Command command : m_scanner.feed(QByteArrayView(chunk, n)))
            respond(command);
    }
}

void InverterConnection::respond(Command command)
{
    const QString what = commandName(command);
    if (m_fault.kind == FaultMode::Silent) {
        emit m_server->request(m_server->prefix() + what + QStringLiteral(" -> (silent)"));
        return;
    }
    QByteArray answer = m_server->m_answers(command);
    const qint64 now = m_clock.elapsed();
    switch (m_fault.kind) {
    case FaultMode::Garbage: {
        // 1..GarbageMaxLength, skipping the length of the right answer.
        const int right = expectedReplySize(command);
        int size = int(m_server->m_random.bounded(1, FaultMode::GarbageMaxLength));
        if (size >= right)
            ++size;
        answer = randomBytes(m_server->m_random, size);
        enqueue(now, answer);
        break;
    }
    case FaultMode::Late:
        enqueue(now + m_fault.value, answer);
        break;
    case FaultMode::Split: {
        const qsizetype half = std::max<qsizetype>(1, answer.size() / 2);
        enqueue(now, answer.left(half));
        enqueue(now + m_fault.value, answer.mid(half));
        break;
    }
    case FaultMode::Coalesce:
        if (m_held.isEmpty()) {
            m_held = answer;
            emit m_server->request(m_server->prefix() + what + QStringLiteral(" -> held"));
            return;
        }
        answer = m_held + answer;
        m_held.clear();
        enqueue(now, answer);
        break;
    default:
        enqueue(now, answer);
        break;
    }
    emit m_server->request(m_server->prefix() + what + QStringLiteral(" -> %1 bytes").arg(answer.size()));
}

void InverterConnection::enqueue(qint64 dueMs, const QByteArray &bytes)
{
    // Answers leave in the order of their requests, even when the delay changes.
    dueMs = std::max(dueMs, m_lastDueMs);
    m_lastDueMs = dueMs;
    if (m_queue.isEmpty() && dueMs <= m_clock.elapsed()) {
        write(bytes);
        return;
    }
    if (m_queuedBytes + bytes.size() > InverterServer::MaxUnsent)
        return;
    m_queue.append({dueMs, bytes});
    m_queuedBytes += bytes.size();
    if (!m_queueTimer.isActive())
        m_queueTimer.start(int(std::max<qint64>(0, m_queue.first().dueMs - m_clock.elapsed())));
}

void InverterConnection::sendDue()
{
    const qint64 now = m_clock.elapsed();
    while (!m_queue.isEmpty() && m_queue.first().dueMs <= now) {
        const Outgoing out = m_queue.takeFirst();
        m_queuedBytes -= out.bytes.size();
        write(out.bytes);
    }
    if (!m_queue.isEmpty())
        m_queueTimer.start(int(std::max<qint64>(0, m_queue.first().dueMs - now)));
}

void InverterConnection::write(const QByteArray &bytes)
{
    // In a flood the answers go on top of the flood's own backlog.
    const qint64 limit = InverterServer::MaxUnsent
                         + (m_fault.kind == FaultMode::Flood ? InverterServer::MaxFloodUnsent : 0);
    if (m_closing || !isOpen() || m_socket->bytesToWrite() + bytes.size() > limit)
        return;
    m_socket->write(bytes);
}

void InverterConnection::floodTick()
{
    const qsizetype perTick = std::max<qsizetype>(1, qsizetype(m_fault.value) * 1024 * FloodTickMs / 1000);
    qsizetype left = perTick;
    while (left > 0 && isOpen() && m_socket->bytesToWrite() < InverterServer::MaxFloodUnsent) {
        const qsizetype n = std::min(left, m_floodBlock.size() - m_floodOffset);
        m_socket->write(m_floodBlock.constData() + m_floodOffset, n);
        m_floodOffset = (m_floodOffset + n) % m_floodBlock.size();
        left -= n;
    }
}

InverterServer::InverterServer(int slot, const FaultMode &fault, AnswerSource answers, quint32 seed,
                               QObject *parent)
    : QObject(parent), m_slot(slot), m_fault(fault), m_answers(std::move(answers)),
      m_random(seed * 7919u + quint32(slot))
{
    connect(&m_server, &QTcpServer::newConnection, this, &InverterServer::onNewConnection);
}

InverterServer::~InverterServer() = default;

bool InverterServer::bind(quint16 port, QString *error)
{
    if (!m_server.listen(QHostAddress::LocalHost, port)) {
        *error = QStringLiteral("inverter %1: cannot listen on 127.0.0.1:%2: %3")
                     .arg(m_slot)
                     .arg(port)
                     .arg(m_server.errorString());
        return false;
    }
    m_port = m_server.serverPort();
    return true;
}

void InverterServer::open()
{
    if (m_fault.kind == FaultMode::Refuse)
        m_server.close();
}

bool InverterServer::hasClient() const
{
    return m_current && m_current->isOpen();
}

QString InverterServer::prefix() const
{
    return QStringLiteral("INV%1  ").arg(m_slot);
}

void InverterServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        ++m_accepted;
        if (m_current) {
            emit activity(prefix() + QStringLiteral("new connection replaces the previous one"));
            m_current->closeGracefully();
        }
        m_current = new InverterConnection(this, socket);
        emit activity(prefix() + QStringLiteral("connection from %1:%2")
                                  .arg(socket->peerAddress().toString())
                                  .arg(socket->peerPort()));
    }
}
