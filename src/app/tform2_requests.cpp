// Requests to the inverters and the Auto-Read polling cycle.
#include "tform2.h"

#include "net/simpletcp.h"

#include <QCheckBox>
#include <QTimer>

void TForm2::requestStep(Command command, int slot)
{
    m_state.LastCommand = qint8(command);
    m_state.LastCheck = checkByte(command);
    m_state.RequestFrame[5] = quint8(m_state.LastCommand);
    m_state.RequestFrame[6] = m_state.LastCheck;
    m_state.LastCommandOnLink[slot] = m_state.LastCommand;
    // The result is not looked at: a failure reaches the log through the link.
    m_tcp[slot]->SendBytes(m_state.RequestFrame.data(), int(m_state.RequestFrame.size()));
}

void TForm2::GBClick(int slot)
{
    m_state.ActiveInverter = slot;
}

// "Total Power": the status first; the pause lets its answer come in and be
// shown before the power parameters are asked for on the same link.
void TForm2::SBPClick(int slot)
{
    m_state.ActiveInverter = slot;
    requestStep(Command::Status, slot);
    pause(m_durations.totalPowerPause);
    requestStep(Command::PowerParameters, slot);
}

void TForm2::SBDClick(int slot)
{
    m_state.ActiveInverter = slot;
    requestStep(Command::DailyEnergy, slot);
}

void TForm2::SBTClick(int slot)
{
    m_state.ActiveInverter = slot;
    requestStep(Command::TotalEnergy, slot);
}

void TForm2::CB1Click()
{
    if (w.CB1->isChecked()) {
        m_state.QuietLog = true;
        setTimerEnabled(m_timer1, true);
    } else {
        setTimerEnabled(m_timer1, false);
    }
}

// One Auto-Read cycle: slots 1 to 5, each "Total Power", "Daily Energy",
// "Total Energy", whatever the state of the buttons and links; slot 6 is
// asked only by hand. The next interval starts when the cycle ends.
void TForm2::Timer1Timer()
{
    setTimerEnabled(m_timer1, false);
    for (int slot = 1; slot <= 5; ++slot) {
        for (auto press : {&TForm2::SBPClick, &TForm2::SBDClick, &TForm2::SBTClick}) {
            (this->*press)(slot);
            pause(m_durations.pressPause);
        }
    }
    setTimerEnabled(m_timer1, true);
}
