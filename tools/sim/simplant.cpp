#include "simplant.h"

#include "answers.h"

#include <QFileInfo>
#include <QSaveFile>

#include <cmath>

namespace {
constexpr quint16 SearchEnd = 48001;

PlantModelOptions modelOptions(const SimOptions &o)
{
    PlantModelOptions m;
    m.seed = o.seed;
    m.cloudiness = o.cloudiness;
    m.startTime = o.startHour * 3600.0;
    return m;
}
} // namespace

SimPlant::SimPlant(const SimOptions &options, QObject *parent)
    : QObject(parent), m_options(options), m_model(modelOptions(options))
{
    m_hourTimer.setInterval(200);
    connect(&m_hourTimer, &QTimer::timeout, this, [this] {
        const qint64 hour = qint64(std::floor(simTimeNow() / 3600.0));
        if (hour != m_lastHour) {
            m_lastHour = hour;
            emit clockTick(clockLine());
        }
    });
}

SimPlant::~SimPlant() = default;

bool SimPlant::tryBind(std::optional<quint16> base, QString *error)
{
    std::array<std::unique_ptr<InverterServer>, 6> inverters;
    for (int slot = 1; slot <= 6; ++slot) {
        auto source = [this, slot](Command command) { return answer(slot, command); };
        inverters[slot - 1] =
            std::make_unique<InverterServer>(slot, m_options.faults[slot], source, m_options.seed);
        if (!inverters[slot - 1]->bind(base ? quint16(*base + slot - 1) : 0, error))
            return false;
    }
    auto panel = std::make_unique<PanelListener>();
    if (!panel->bind(base ? quint16(*base + 6) : 0, error))
        return false;
    m_inverters = std::move(inverters);
    m_panel = std::move(panel);
    return true;
}

bool SimPlant::start(QString *error)
{
    bool bound = false;
    if (m_options.basePort) {
        bound = tryBind(*m_options.basePort == 0 ? std::nullopt : m_options.basePort, error);
    } else {
        for (int base = SimOptions::DefaultBasePort; !bound && base + 6 < SearchEnd; base += 7)
            bound = tryBind(quint16(base), error);
        if (!bound)
            bound = tryBind(std::nullopt, error);
    }
    if (!bound)
        return false;

    for (const auto &inverter : m_inverters) {
        connect(inverter.get(), &InverterServer::activity, this, &SimPlant::activity);
        connect(inverter.get(), &InverterServer::request, this, &SimPlant::request);
        inverter->open();
    }
    connect(m_panel.get(), &PanelListener::activity, this, &SimPlant::activity);
    connect(m_panel.get(), &PanelListener::displayLine, this, &SimPlant::panelLine);
    m_clock.start();
    m_hourTimer.start();
    return true;
}

quint16 SimPlant::inverterPort(int slot) const
{
    const InverterServer *s = inverter(slot);
    return s ? s->port() : 0;
}

quint16 SimPlant::panelPort() const
{
    return m_panel ? m_panel->port() : 0;
}

InverterServer *SimPlant::inverter(int slot) const
{
    return slot >= 1 && slot <= 6 ? m_inverters[slot - 1].get() : nullptr;
}

double SimPlant::simTimeNow() const
{
    const double elapsed = m_clock.isValid() ? m_clock.elapsed() / 1000.0 : 0.0;
    return m_options.startHour * 3600.0 + elapsed * PlantModel::SecondsPerDay / m_options.dayLength;
}

PlantModel &SimPlant::model()
{
    m_model.advanceTo(simTimeNow());
    return m_model;
}

QByteArray SimPlant::answer(int slot, Command command)
{
    return encodeAnswer(command, model().reading(slot));
}

QByteArray SimPlant::iniText() const
{
    QString text = QStringLiteral("; The simulated plant of brelvon-sim on this machine.\n[Hosts]\n");
    for (int slot = 1; slot <= 6; ++slot) {
        text += QStringLiteral("Host%1Name=%2\nHost%1IP=127.0.0.1\nHost%1Port=%3\n")
                    .arg(QString::number(slot), m_model.profile(slot).name, QString::number(inverterPort(slot)));
    }
    text += QStringLiteral("\n[Panel]\nPanelIP=127.0.0.1\nPanelPort=%1\n").arg(panelPort());
    if (m_options.autoRead)
        text += QStringLiteral("\n[Monitor]\nAutoRead=1\n");
    return text.toUtf8();
}

bool SimPlant::writeIni(const QString &path, QString *error) const
{
    QSaveFile file(path);
    const QByteArray text = iniText();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(QFileInfo(path).absoluteFilePath(), file.errorString());
        return false;
    }
    return true;
}

QString SimPlant::portTable() const
{
    QString table;
    for (int slot = 1; slot <= 6; ++slot) {
        const InverterServer *s = inverter(slot);
        table += QStringLiteral("INV%1  127.0.0.1:%2  %3")
                     .arg(QString::number(slot), QString::number(inverterPort(slot)), m_model.profile(slot).name);
        if (s && s->fault().kind != FaultMode::None)
            table += QStringLiteral("  [fault %1]").arg(s->fault().toString());
        table += u'\n';
    }
    table += QStringLiteral("PANEL  127.0.0.1:%1\n").arg(panelPort());
    return table;
}

QString SimPlant::clockLine()
{
    PlantModel &m = model();
    const double t = m.time();
    const qint64 minutes = qint64(std::floor(t / 60.0));
    double acWatts = 0, dailyWh = 0;
    QString states;
    for (int slot = 1; slot <= 6; ++slot) {
        const InverterReading r = m.reading(slot);
        for (int b = PowerParameters::AcPhase1; b <= PowerParameters::AcPhase3; ++b)
            acWatts += r.power[PowerParameters::Block(b)].rawPower;
        dailyWh += r.dailyWh;
        states += QStringLiteral(" %1").arg(int(r.state));
    }
    return QStringLiteral("SIM  day %1 %2:%3  AC %4 kW  today %5 kWh  states%6")
        .arg(minutes / 1440 + 1)
        .arg(minutes / 60 % 24, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'))
        .arg(acWatts / 1000.0, 0, 'f', 1)
        .arg(dailyWh / 1000.0, 0, 'f', 1)
        .arg(states);
}
