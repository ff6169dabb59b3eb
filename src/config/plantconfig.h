#pragma once

#include "config/inifile.h"

#include <QString>

#include <array>

// The plant as param.ini describes it: the six inverters, the LED panel and
// the monitor's own start options. Read once at start-up, never written.
struct PlantConfig {
    static constexpr int SlotCount = 6;
    // What a missing text key reads as; it is also what the window then shows.
    static constexpr const char *TextDefault = "Error reading inifile";
    // What a missing or unreadable integer key reads as.
    static constexpr int IntegerDefault = 99;

    // Index 1..6 is the inverter slot; index 0 is unused and stays empty/0.
    std::array<QString, SlotCount + 1> names;  // "Hosts"/"Host<n>Name": group caption
    std::array<QString, SlotCount + 1> hosts;  // "Hosts"/"Host<n>IP": link host, "Null" = switched off
    std::array<quint16, SlotCount + 1> ports{}; // "Hosts"/"Host<n>Port": link port
    QString panelHost;                         // "Panel"/"PanelIP": LED panel host and caption
    quint16 panelPort = 0;                     // "Panel"/"PanelPort"
    bool autoRead = false;                     // "Monitor"/"AutoRead": start with Auto-Read ticked

    // Every value from ini. Texts are taken as IniFile::readString gives them
    // (an empty value stays empty), TextDefault when missing. Ports are
    // IniFile::readInteger with IntegerDefault, keeping the low 16 bits
    // (70000 gives 4464, -1 gives 65535). autoRead is true when "AutoRead"
    // reads as a non-zero integer; missing or not a number gives false.
    static PlantConfig read(const IniFile &ini);

    // Where the monitor reads param.ini: the directory of the running
    // executable, then "/param.ini"; the working directory plays no part.
    // Needs the application object to exist.
    static QString defaultPath();
};
