#pragma once

#include "protocol/planttotals.h"
#include "protocol/requestframe.h"

#include <array>
#include <cstdint>

// The program-wide state the window's handlers share. All of it starts at
// zero; FormShow fills RequestFrame and ActiveInverter. Nothing is ever reset.
struct MonitorState {
    RequestFrameBytes RequestFrame{};  // the 8 bytes every request sends
    qint8 LastCommand = 0;             // command of the last request step, any link
    quint8 LastCheck = 0;              // its check byte
    qint32 ActiveInverter = 0;         // slot of the last request button or group click
    std::array<quint8, 100> ReplyBuffer{}; // every inverter answer is read into it
    bool QuietLog = false;             // reply-size log lines off once Auto-Read was ticked
    PlantTotals Totals;                // PlantTotals: slot shares and plant sums

    // The command of the last request step made on each link (slots 1..6):
    // an 11-byte answer is read as daily or total energy by what was last
    // asked of the inverter that sent it.
    std::array<qint8, 7> LastCommandOnLink{};
};
