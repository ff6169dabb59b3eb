#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// Notification events, as the link dispatches them (low 16 bits of a
// notification word; the high 16 bits carry a Windows Sockets error number).
namespace SocketEvent {
constexpr quint16 Read = 1;
constexpr quint16 Accept = 8;
constexpr quint16 Connect = 16;
constexpr quint16 Close = 32;
} // namespace SocketEvent

constexpr quint32 makeNotification(quint16 event, quint16 error = 0)
{
    return quint32(event) | (quint32(error) << 16);
}

// Watches one non-blocking socket from the event loop and turns what the
// kernel reports into the link's notifications:
//  - while connecting: Connect, with the connect error (SO_ERROR) if any;
//  - once connected: Read while bytes are waiting, Close once the peer has
//    closed (with 10054 and the like for an abortive close).
// Notifications are delivered on the thread that owns this object, one per
// readiness report. A Close is reported once: reading stops with it.
class SocketReadiness : public QObject {
public:
    using Notify = std::function<void(int socket, quint32 notification)>;

    SocketReadiness(int socket, Notify notify, QObject *parent);
    ~SocketReadiness() override;

    // Starts watching for the end of a connection attempt.
    void watchConnect();
    // Stops every notification. Safe inside a notification; call it before
    // the descriptor is closed.
    void stop();

private:
    void onWritable();
    void onReadable();

    int m_socket;
    Notify m_notify;
    QSocketNotifier *m_read = nullptr;
    QSocketNotifier *m_write = nullptr;
};
