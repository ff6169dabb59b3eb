#pragma once

#include "inverterserver.h"
#include "panellistener.h"
#include "plantmodel.h"
#include "simoptions.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <memory>

// The whole simulated plant: the physics on a compressed clock, the six
// inverter listeners and the LED panel listener, all on 127.0.0.1.
class SimPlant : public QObject {
    Q_OBJECT

public:
    explicit SimPlant(const SimOptions &options, QObject *parent = nullptr);
    ~SimPlant() override;

    // Binds all seven listeners as options.basePort says (see SimOptions),
    // then opens them (an inverter in refuse mode closes its listener now)
    // and starts the clock. Returns false with the reason in *error when the
    // ports cannot be had; nothing is left listening then.
    bool start(QString *error);

    // Ports once start() has succeeded: inverter slot 1..6 and the panel.
    quint16 inverterPort(int slot) const;
    quint16 panelPort() const;
    InverterServer *inverter(int slot) const;
    PanelListener *panel() const { return m_panel.get(); }

    // The simulated time now: start hour plus the real time since start(),
    // one day per options.dayLength seconds.
    double simTimeNow() const;
    // The model moved on to simTimeNow().
    PlantModel &model();

    // param.ini for the monitor: section "Hosts" with Host<n>Name, Host<n>IP
    // (127.0.0.1) and Host<n>Port for n = 1..6, section "Panel" with PanelIP
    // and PanelPort, and with options.autoRead section "Monitor" AutoRead=1.
    QByteArray iniText() const;
    // Writes iniText() to path, atomically (a temporary file renamed into
    // place). Returns false with the reason in *error.
    bool writeIni(const QString &path, QString *error) const;

    // The listening ports and fault modes, one line per listener.
    QString portTable() const;
    // "SIM  day 1 09:00  AC 34.2 kW  today 45.2 kWh  states 3 3 4 3 3 3"
    QString clockLine();

signals:
    void activity(const QString &line);      // connections, closes, fault actions
    void request(const QString &line);    // every request (for --verbose)
    void panelLine(const QString &line);  // what the LED panel shows
    void clockTick(const QString &line);  // once per simulated hour

private:
    bool tryBind(std::optional<quint16> base, QString *error);
    QByteArray answer(int slot, Command command);

    SimOptions m_options;
    PlantModel m_model;
    std::array<std::unique_ptr<InverterServer>, 6> m_inverters;
    std::unique_ptr<PanelListener> m_panel;
    QElapsedTimer m_clock;
    QTimer m_hourTimer;
    qint64 m_lastHour = -1;
};
