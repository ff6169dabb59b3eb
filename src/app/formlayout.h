#pragma once

#include <array>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "widgets.h"

// The components of one inverter group (slot 1..6).
struct SlotWidgets {
    ClickGroup *GB = nullptr; QLabel *LabelHost = nullptr; QLabel *LblStatus = nullptr; Lamp *Shape = nullptr;
    RequestButton *SBP = nullptr, *SBD = nullptr, *SBT = nullptr;
    Readout *TPower = nullptr, *DailyEnergy = nullptr, *ETotal = nullptr;
    // value readouts: [block][quantity]; blocks in the order AC phase 1, AC phase 2, AC phase 3,
    // DC input 1, DC input 2, DC input 3; quantities voltage, current, power
    std::array<std::array<Readout *, 3>, 6> values{};
};

// Every component of the main window.
struct FormWidgets {
    std::array<SlotWidgets, 7> slot; // 1..6 used
    QGroupBox *GB7 = nullptr; QLabel *Image1 = nullptr;
    Readout *Power_Total = nullptr, *ETotal_Total = nullptr, *CO2_Total = nullptr;
    Lamp *Shape7 = nullptr; QPushButton *Button1 = nullptr, *Button2 = nullptr, *Button3 = nullptr;
    QPlainTextEdit *Memo1 = nullptr; QCheckBox *CB1 = nullptr;
};

// Builds every component of the main window as children of `form` at the described positions,
// sizes, fonts, colours and initial texts, with objectNames exactly as listed (F1volt_1, F3cur_6, G2Cur_4, TPower_5, ...).
// Sets the form's default font (Tahoma 11 px) and the keyboard focus order of the LED panel
// group; leaves the window's title, size and flags alone and connects no signals.
// LabelHost labels stay sized to their text when it changes (see ClickGroup::setFitsText).
void buildFormWidgets(QWidget *form, FormWidgets &w);
