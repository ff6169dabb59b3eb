#pragma once

#include "durations.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>

class HostLookup;
class QTimer;
class SocketReadiness;

// Raised by a link when a socket failure has no OnError handler to go to,
// and when the link is misused (Host or Port changed while connected).
class ESocketError : public std::runtime_error {
public:
    explicit ESocketError(const QString &message);
    QString message() const;
};

// The application's exception handler: shows an exception's message to the
// operator and returns. Every notification of a link ends here when an
// exception escapes it; no exception ever leaves a notification.
using ExceptionHandler = std::function<void(const QString &message)>;
void setApplicationExceptionHandler(ExceptionHandler handler);
void HandleApplicationException(const std::exception &e);

// The part of a TCP link that any socket component needs: host and port,
// the socket, the readiness watch, the notification dispatch, send and
// receive, and the error path with its Windows Sockets texts.
class TCustomSimpleSocket : public QObject {
public:
    using ErrorEvent = std::function<void(TCustomSimpleSocket *Sender, int Socket, int ErrorCode,
                                          const QString &ErrorMsg)>;

    explicit TCustomSimpleSocket(QObject *owner = nullptr, const Durations &durations = Durations::product());
    ~TCustomSimpleSocket() override;

    bool AllowChangeHostAndPortOnConnection = false;
    ErrorEvent OnError;

    QString Host() const { return m_host; }
    quint16 Port() const { return m_port; }
    int SocketHandle() const { return m_socket; }

    virtual void AssignHost(const QString &Value) = 0;
    virtual void AssignPort(quint16 Value) = 0;

    // Sends Count bytes on Socket. Returns what the kernel took; 0 when Socket
    // is -1 or Count is 0 (nothing reported); -1 after a failure that went
    // through the error path. Nothing is retried or buffered.
    int SendOnSocket(int Socket, const void *Buffer, int Count);
    // Receives up to Count bytes into Buffer, which must hold Count bytes.
    // Returns the bytes placed, or -1 when the first read failed (reported).
    // With WaitAll it goes on until Count bytes are in, the peer closes, a
    // read fails, or no byte came for Durations::receiveStall ms.
    int ReceiveOnSocket(int Socket, void *Buffer, int Count, bool WaitAll);
    // As ReceiveOnSocket, appending what arrived to Stream.
    int ReceiveIntoStream(int Socket, QIODevice &Stream, int Count, bool WaitAll);
    // As ReceiveOnSocket, but the bytes are read in small chunks and dropped:
    // a count of any size can be consumed without a buffer of that size.
    int DiscardOnSocket(int Socket, int Count, bool WaitAll);

    // Handles one notification: the socket, then the event in the low 16 bits
    // and a Windows Sockets error in the high 16 bits of the second word.
    void HandleSocketMessage(int Socket, quint32 Notification);

protected:
    // Looks the text up, then raises OnError, or throws ESocketError.
    virtual void ReportError(int Socket, int ErrorCode);

    virtual void HandleAccept() = 0;
    virtual void HandleConnect() = 0;
    virtual void HandleClose(int Socket) = 0;
    virtual void HandleDataAvailable(int Count, bool &Handled) = 0;
    virtual void HandleStreamRead(QIODevice &Stream) = 0;

    // The entry point of every notification: dispatches it and hands any
    // exception to the application's exception handler.
    void NotifyWindowProc(int Socket, quint32 Notification);

    // Socket life, for the concrete components.
    bool openSocket();           // creates the socket; false after a reported failure
    void watchConnect();         // readiness of the attempt under way, with its time-out
    bool closeSocket();          // true when the socket was closed; false (reported) when there was none
    bool isCurrent(int Socket, quint64 generation) const;
    void stopConnectTimeout();

    QString m_host;
    quint16 m_port = 0;
    int m_socket = -1;
    quint64 m_generation = 0; // changes with every socket opened or closed
    Durations m_durations;

private:
    void readLoop(int Socket);
    int receiveImpl(int Socket, char *Buffer, int Count, bool WaitAll);

    SocketReadiness *m_readiness = nullptr;
    QTimer *m_connectTimeout = nullptr;
};

// The TCP client link: connects to Host:Port without blocking and reports
// everything that happens to it as events, on the thread that owns it.
class TSimpleTCPClient : public TCustomSimpleSocket {
public:
    using NotifyEvent = std::function<void(TSimpleTCPClient *Sender)>;
    using DataAvailEvent = std::function<void(TSimpleTCPClient *Sender, int DataSize)>;
    using IOEvent = std::function<void(TSimpleTCPClient *Sender, QIODevice &Stream)>;

    explicit TSimpleTCPClient(QObject *owner = nullptr, const Durations &durations = Durations::product());
    ~TSimpleTCPClient() override;

    // Reconnect at once after the peer closes the connection gracefully
    // (at most once per Durations::reconnectGuard).
    bool AutoTryReconnect = false;
    NotifyEvent OnConnected;
    NotifyEvent OnDisconnected;
    DataAvailEvent OnDataAvailable;
    IOEvent OnRead;

    // True only while the connection is established.
    bool Connected() const { return m_connected; }
    bool ConnectRequested() const { return m_connectRequested; }
    // true: start an attempt (the outcome arrives as OnConnected or OnError);
    // false: close (OnDisconnected). The same value twice does nothing.
    void AssignConnected(bool Value);
    void AssignHost(const QString &Value) override;
    void AssignPort(quint16 Value) override;

    int SendBytes(const void *Buffer, int Count) { return SendOnSocket(m_socket, Buffer, Count); }
    int ReceiveBytes(void *Buffer, int Count, bool WaitAll) { return ReceiveOnSocket(m_socket, Buffer, Count, WaitAll); }
    int DiscardBytes(int Count, bool WaitAll) { return DiscardOnSocket(m_socket, Count, WaitAll); }

protected:
    void ReportError(int Socket, int ErrorCode) override;
    void HandleAccept() override {}
    void HandleConnect() override;
    void HandleClose(int Socket) override;
    void HandleDataAvailable(int Count, bool &Handled) override;
    void HandleStreamRead(QIODevice &Stream) override;

private:
    void connectTo(quint32 address);
    void disconnectNow();
    void abandonLookup();
    template <typename Change> void changeAddress(Change change);

    bool m_connectRequested = false;
    bool m_connected = false;
    bool m_destroying = false;
    std::shared_ptr<HostLookup> m_lookup;
    QElapsedTimer m_lastAutoReconnect;
};
