#pragma once

#include <QByteArray>
#include <QString>

// Messages to the LED panel: "!" + letter + figure + "%", plain ASCII,
// no terminator. Only the first 9 bytes are sent, so a figure of seven
// characters or more loses the "%" and everything past its seventh character.

constexpr int PanelMessageSize = 9;
constexpr char PanelPowerLetter = 'A';  // Power_Total, kW
constexpr char PanelEnergyLetter = 'B'; // ETotal_Total, MWh
constexpr char PanelCO2Letter = 'C';    // CO2_Total, kg

// The bytes to send for one message: "!" + letter + figure + "%", cut to its
// first 9 bytes. A shorter composed text (a figure under six characters) is
// returned whole, never padded. The figure is treated as arbitrary text:
// each UTF-16 unit outside ASCII becomes '?', so the result never exceeds
// 9 bytes, and at most the first 7 units of the figure are looked at.
// The letter is taken as it is.
QByteArray composePanelMessage(char letter, const QString &figure);
