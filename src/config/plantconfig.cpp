#include "config/plantconfig.h"

#include <QCoreApplication>

namespace {

// Only the low 16 bits reach a port, whatever the file says.
quint16 portOf(int value)
{
    return static_cast<quint16>(static_cast<quint32>(value) & 0xFFFFu);
}

} // namespace

PlantConfig PlantConfig::read(const IniFile &ini)
{
    const QString hosts = QStringLiteral("Hosts");
    const QString panel = QStringLiteral("Panel");
    const QString textDefault = QString::fromLatin1(TextDefault);

    PlantConfig config;
    for (int slot = 1; slot <= SlotCount; ++slot) {
        const QString prefix = QStringLiteral("Host") + QString::number(slot);
        config.names[slot] = ini.readString(hosts, prefix + QStringLiteral("Name"), textDefault);
        config.hosts[slot] = ini.readString(hosts, prefix + QStringLiteral("IP"), textDefault);
        config.ports[slot] = portOf(ini.readInteger(hosts, prefix + QStringLiteral("Port"), IntegerDefault));
    }
    config.panelHost = ini.readString(panel, QStringLiteral("PanelIP"), textDefault);
    config.panelPort = portOf(ini.readInteger(panel, QStringLiteral("PanelPort"), IntegerDefault));
    config.autoRead = ini.readInteger(QStringLiteral("Monitor"), QStringLiteral("AutoRead"), 0) != 0;
    return config;
}

QString PlantConfig::defaultPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/param.ini");
}
