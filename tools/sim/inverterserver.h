#pragma once

#include "faultmode.h"
#include "protocol/requestframe.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QString>
#include <QTcpServer>

#include <functional>

class InverterConnection;

// One simulated inverter on 127.0.0.1: a listener that answers the four
// requests on its connection, in the order they come, and misbehaves as its
// fault mode says (faultmode.h).
//
// Like a real inverter it serves one client at a time: a new connection
// replaces the one before, which is closed gracefully. Bytes that are no
// request are skipped; nothing the client sends is kept beyond a partial
// request, and answers are dropped while MaxUnsent bytes (in flood mode
// MaxFloodUnsent more) are still unsent, so a client that never reads cannot
// make it grow.
class InverterServer : public QObject {
    Q_OBJECT

public:
    // Builds the answer to a command at the moment it is asked.
    using AnswerSource = std::function<QByteArray(Command)>;

    static constexpr qint64 MaxUnsent = 64 * 1024;
    static constexpr qint64 MaxFloodUnsent = 256 * 1024;

    // slot: 1..6, used in the log lines; seed: the random bytes of the
    // garbage, flood and blob modes.
    InverterServer(int slot, const FaultMode &fault, AnswerSource answers, quint32 seed,
                   QObject *parent = nullptr);
    ~InverterServer() override;

    // Listens on 127.0.0.1:port, or on a free port of the kernel's choice for
    // port 0. Returns false and the reason in *error when that fails.
    bool bind(quint16 port, QString *error);

    // To be called once every listener of the plant is bound. With the fault
    // mode refuse, this closes the listener, so that from now on every
    // connection to port() is refused; in any other mode it does nothing.
    void open();

    // The port bound by bind(); it stays the same after open() in refuse mode.
    quint16 port() const { return m_port; }
    int slot() const { return m_slot; }
    const FaultMode &fault() const { return m_fault; }
    bool isListening() const { return m_server.isListening(); }
    bool hasClient() const;
    int acceptedCount() const { return m_accepted; }

signals:
    // Connections, closes and fault actions, as "INV3  ..." lines.
    void activity(const QString &line);
    // One line per request and what it got, as "INV3  status -> 15 bytes".
    void request(const QString &line);

private:
    friend class InverterConnection;

    void onNewConnection();
    QString prefix() const;

    int m_slot;
    FaultMode m_fault;
    AnswerSource m_answers;
    QRandomGenerator m_random;
    QTcpServer m_server;
    quint16 m_port = 0;
    QPointer<InverterConnection> m_current;
    int m_accepted = 0;
};
