#include "panellistener.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {
constexpr int MessageSize = 9;

bool figureChar(char c)
{
    return c >= 0x20 && c <= 0x7E && c != '!' && c != '%';
}

int letterIndex(char letter)
{
    return letter >= 'A' && letter <= 'C' ? letter - 'A' : -1;
}

// The figure of the message at the start of bytes (9 of them), or an empty
// string when they are no message.
QString messageFigure(const QByteArray &m)
{
    if (m[0] != '!' || letterIndex(m[1]) < 0)
        return {};
    const int length = m[MessageSize - 1] == '%' ? 6 : 7;
    for (int i = 2; i < 2 + length; ++i) {
        if (!figureChar(m[i]))
            return {};
    }
    return QString::fromLatin1(m.constData() + 2, length);
}
} // namespace

QStringList PanelDisplay::feed(QByteArrayView bytes)
{
    QStringList lines;
    for (const char c : bytes) {
        if (m_pending.isEmpty() && c != '!')
            continue;
        m_pending.append(c);
        while (m_pending.size() == MessageSize) {
            const QString figure = messageFigure(m_pending);
            const char letter = m_pending[1];
            const int index = letterIndex(letter);
            if (!figure.isEmpty() && index >= 0) {
                m_figures[index] = figure;
                m_pending.clear();
                if (letter == 'C')
                    lines.append(line());
                break;
            }
            // Not a message: look for the next "!" inside what we have.
            const qsizetype next = m_pending.indexOf('!', 1);
            m_pending = next < 0 ? QByteArray() : m_pending.mid(next);
        }
    }
    return lines;
}

QString PanelDisplay::figure(char letter) const
{
    const int i = letterIndex(letter);
    return i < 0 ? QString() : m_figures[i];
}

QString PanelDisplay::line() const
{
    return QStringLiteral("PANEL  Power %1 kW | Energy %2 MWh | CO2 %3 kg")
        .arg(m_figures[0], m_figures[1], m_figures[2]);
}

PanelListener::PanelListener(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &PanelListener::onNewConnection);
}

PanelListener::~PanelListener()
{
    // A socket still tells of its disconnection while it is being destroyed
    // with the listener; by then nobody is to hear it.
    const auto sockets = m_server.findChildren<QTcpSocket *>();
    for (QTcpSocket *socket : sockets)
        socket->disconnect(this);
}

bool PanelListener::bind(quint16 port, QString *error)
{
    if (!m_server.listen(QHostAddress::LocalHost, port)) {
        *error = QStringLiteral("LED panel: cannot listen on 127.0.0.1:%1: %2").arg(port).arg(m_server.errorString());
        return false;
    }
    m_port = m_server.serverPort();
    return true;
}

void PanelListener::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_client) {
            emit activity(QStringLiteral("PANEL  new connection replaces the previous one"));
            m_client->disconnectFromHost();
        }
        m_client = socket;
        socket->setReadBufferSize(64 * 1024);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (socket == m_client)
                emit activity(QStringLiteral("PANEL  client closed the connection"));
        });
        emit activity(QStringLiteral("PANEL  connection from %1:%2")
                       .arg(socket->peerAddress().toString())
                       .arg(socket->peerPort()));
    }
}

void PanelListener::onReadyRead(QTcpSocket *socket)
{
    char chunk[4096];
    while (socket->bytesAvailable() > 0) {
        const qint64 n = socket->read(chunk, sizeof chunk);
        if (n <= 0)
            break;
        // Bytes of a replaced connection still drain, but the panel shows
        // only what its present client sends.
        if (socket != m_client)
            continue;
        for (const QString &line : m_display.feed(QByteArrayView(chunk, n)))
            emit displayLine(line);
    }
}
