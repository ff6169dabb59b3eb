#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

// A real TCP peer on 127.0.0.1 for tests: listens on a free port, records
// every byte it receives with the time it came, and can answer, close
// gracefully or reset its connection.
class TestPeer : public QObject {
public:
    struct Chunk {
        qint64 atMs; // since the peer was created
        QByteArray bytes;
    };

    explicit TestPeer(QObject *parent = nullptr);
    ~TestPeer() override;

    quint16 port() const { return m_server.serverPort(); }
    int accepted() const { return m_accepted; }
    bool hasClient() const { return m_client && m_client->state() == QAbstractSocket::ConnectedState; }

    // Everything received on all connections, in order.
    QByteArray received() const;
    // The received stream cut into pieces of `size` bytes, with the time the
    // last byte of each piece arrived.
    QList<Chunk> frames(int size) const;
    void clearReceived() { m_chunks.clear(); }

    void send(const QByteArray &bytes);
    void closeGracefully();
    void reset(); // abortive close: the client sees a reset

    // What to do with each new connection (default: keep it).
    enum class OnAccept { Keep, Close, Reset };
    void setOnAccept(OnAccept what) { m_onAccept = what; }
    // Answer each complete request (8 bytes) that equals a key.
    void setReplies(const QHash<QByteArray, QByteArray> &replies) { m_replies = replies; }

    void stopListening() { m_server.close(); }
    qint64 elapsed() const { return m_clock.elapsed(); }

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QList<Chunk> m_chunks;
    QByteArray m_pending;
    QHash<QByteArray, QByteArray> m_replies;
    OnAccept m_onAccept = OnAccept::Keep;
    int m_accepted = 0;
    QElapsedTimer m_clock;
};

// Sets SO_LINGER 0 on a connected socket and closes it: the peer gets a RST.
void resetSocket(QTcpSocket *socket);
