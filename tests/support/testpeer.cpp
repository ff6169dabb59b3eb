#include "testpeer.h"

#include <sys/socket.h>

void resetSocket(QTcpSocket *socket)
{
    if (!socket)
        return;
    const linger l{1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    socket->abort();
}

TestPeer::TestPeer(QObject *parent) : QObject(parent)
{
    m_clock.start();
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] { onNewConnection(); });
}

TestPeer::~TestPeer()
{
    if (m_client)
        m_client->abort();
}

void TestPeer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        ++m_accepted;
        switch (m_onAccept) {
        case OnAccept::Close:
            socket->disconnectFromHost();
            socket->deleteLater();
            continue;
        case OnAccept::Reset:
            resetSocket(socket);
            socket->deleteLater();
            continue;
        case OnAccept::Keep:
            break;
        }
        if (m_client)
            m_client->deleteLater();
        m_client = socket;
        m_pending.clear();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (m_client == socket)
                m_client = nullptr;
            socket->deleteLater();
        });
    }
}

void TestPeer::onReadyRead(QTcpSocket *socket)
{
    const QByteArray bytes = socket->readAll();
    if (bytes.isEmpty())
        return;
    m_chunks.append({m_clock.elapsed(), bytes});
    if (m_replies.isEmpty())
        return;
    m_pending += bytes;
    while (m_pending.size() >= 8) {
        const QByteArray request = m_pending.left(8);
        m_pending.remove(0, 8);
        const auto it = m_replies.constFind(request);
        if (it != m_replies.constEnd())
            socket->write(*it);
    }
}

QByteArray TestPeer::received() const
{
    QByteArray all;
    for (const Chunk &c : m_chunks)
        all += c.bytes;
    return all;
}

QList<TestPeer::Chunk> TestPeer::frames(int size) const
{
    QList<Chunk> out;
    QByteArray current;
    for (const Chunk &c : m_chunks) {
        for (char b : c.bytes) {
            current += b;
            if (current.size() == size) {
                out.append({c.atMs, current});
                current.clear();
            }
        }
    }
    return out;
}

void TestPeer::send(const QByteArray &bytes)
{
    if (m_client) {
        m_client->write(bytes);
        m_client->flush();
    }
}

void TestPeer::closeGracefully()
{
    if (QTcpSocket *client = m_client) {
        m_client = nullptr;
        client->disconnectFromHost();
    }
}

void TestPeer::reset()
{
    if (QTcpSocket *client = m_client) {
        m_client = nullptr;
        resetSocket(client);
        client->deleteLater();
    }
}
