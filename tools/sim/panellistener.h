#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

// What the LED panel makes of the bytes it receives. A message is 9 bytes:
// "!", a letter A (power, kW), B (energy, MWh) or C (CO2, kg), then either
// six figure characters and "%" or, for a longer figure, seven figure
// characters and no "%". Figure characters are printable ASCII other than
// "!" and "%". Anything else is skipped one byte at a time until a message
// starts again; at most 8 bytes are kept between calls.
class PanelDisplay {
public:
    static constexpr const char *NoFigure = "------";

    // Feeds received bytes. Returns one display line for every "!C" message
    // completed by them (the panel shows an update once its last figure has
    // come), e.g. "PANEL  Power 000012 kW | Energy 000045 MWh | CO2 022500 kg";
    // a figure not received yet shows as "------".
    QStringList feed(QByteArrayView bytes);

    // The figures shown now: letter 'A', 'B' or 'C'.
    QString figure(char letter) const;
    // The display line for the figures shown now.
    QString line() const;
    qsizetype pending() const { return m_pending.size(); }

private:
    QByteArray m_pending;
    QString m_figures[3] = {QLatin1String(NoFigure), QLatin1String(NoFigure), QLatin1String(NoFigure)};
};

// The LED panel on 127.0.0.1: takes one client at a time (a new connection
// replaces the one before, which is closed gracefully), never sends anything,
// and reports each display update.
class PanelListener : public QObject {
    Q_OBJECT

public:
    explicit PanelListener(QObject *parent = nullptr);
    ~PanelListener() override;

    // Listens on 127.0.0.1:port (0: a free port of the kernel's choice).
    // Returns false and the reason in *error when that fails.
    bool bind(quint16 port, QString *error);
    quint16 port() const { return m_port; }
    const PanelDisplay &display() const { return m_display; }

signals:
    // One line per display update (see PanelDisplay::feed).
    void displayLine(const QString &line);
    // Connections and closes, as "PANEL ..." lines.
    void activity(const QString &line);

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);

    QTcpServer m_server;
    quint16 m_port = 0;
    QPointer<QTcpSocket> m_client;
    PanelDisplay m_display;
};
