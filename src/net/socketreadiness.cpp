#include "socketreadiness.h"

#include "socketerrors.h"

#include <QSocketNotifier>

#include <cerrno>
#include <sys/ioctl.h>
#include <sys/socket.h>

SocketReadiness::SocketReadiness(int socket, Notify notify, QObject *parent)
    : QObject(parent), m_socket(socket), m_notify(std::move(notify))
{
    m_read = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    m_read->setEnabled(false);
    m_write = new QSocketNotifier(socket, QSocketNotifier::Write, this);
    m_write->setEnabled(false);
    connect(m_read, &QSocketNotifier::activated, this, [this] { onReadable(); });
    connect(m_write, &QSocketNotifier::activated, this, [this] { onWritable(); });
}

SocketReadiness::~SocketReadiness() = default;

void SocketReadiness::watchConnect()
{
    m_write->setEnabled(true);
}

void SocketReadiness::stop()
{
    m_read->setEnabled(false);
    m_write->setEnabled(false);
}

void SocketReadiness::onWritable()
{
    m_write->setEnabled(false);
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
        err = errno;
    if (err != 0) {
        m_notify(m_socket, makeNotification(SocketEvent::Connect, quint16(wsaErrorFromErrno(err))));
        return;
    }
    // Reading is watched before the link hears of the connection, so that
    // bytes sent at once by the peer are never missed.
    m_read->setEnabled(true);
    m_notify(m_socket, makeNotification(SocketEvent::Connect));
}

void SocketReadiness::onReadable()
{
    int waiting = 0;
    if (::ioctl(m_socket, FIONREAD, &waiting) == 0 && waiting > 0) {
        m_notify(m_socket, makeNotification(SocketEvent::Read));
        return;
    }
    // Readable with nothing waiting: the peer closed, or the connection broke.
    char probe;
    const ssize_t r = ::recv(m_socket, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (r > 0) {
        m_notify(m_socket, makeNotification(SocketEvent::Read));
        return;
    }
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return; // spurious wake-up
    const quint16 error = r == 0 ? 0 : quint16(wsaErrorFromErrno(errno));
    m_read->setEnabled(false); // a close is reported once
    m_notify(m_socket, makeNotification(SocketEvent::Close, error));
}
