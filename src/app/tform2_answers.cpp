// Answers of the inverters, the plant totals and the LED panel messages.
#include "tform2.h"

#include "net/simpletcp.h"
#include "protocol/formats.h"
#include "protocol/panelmessage.h"
#include "protocol/replies.h"
#include "widgets.h"

// An answer is told apart by its size alone. It is shown in the slot of the
// link that delivered it; an 11-byte answer is daily or total energy by the
// last request made on that same link.
void TForm2::TCPDataAvailable(int slot, int DataSize)
{
    TSimpleTCPClient *link = m_tcp[slot];
    auto &buffer = m_state.ReplyBuffer;
    if (DataSize > int(buffer.size())) {
        // No answer is this long: take it all off the link and drop it, so no
        // stale remainder can later pass for an answer.
        link->DiscardBytes(DataSize, true);
        return;
    }
    if (link->ReceiveBytes(buffer.data(), DataSize, true) != DataSize)
        return; // failed (the link reported it) or short: nothing fresh to show

    const SlotWidgets &s = w.slot[slot];
    const QString size = QString::number(DataSize);
    switch (classifyReply(DataSize)) {
    case ReplyKind::Energy: {
        const qint32 wattHours = decodeEnergy(buffer.data());
        if (m_state.LastCommandOnLink[slot] == qint8(Command::DailyEnergy)) {
            if (!m_state.QuietLog)
                appendLog(QStringLiteral("Daily energy:DataSize: ") + size);
            s.DailyEnergy->setText(formatEnergyWh(wattHours));
        } else {
            if (!m_state.QuietLog)
                appendLog(QStringLiteral("Total energy:DataSize: ") + size);
            m_state.Totals.SlotEnergy[slot] = energyMWh(wattHours);
            s.ETotal->setText(formatSixDigits(m_state.Totals.SlotEnergy[slot]));
            refreshEnergy();
        }
        break;
    }
    case ReplyKind::PowerParameters:
        if (!m_state.QuietLog)
            appendLog(QStringLiteral("Power parameters:DataSize: ") + size);
        ProcessPower(slot);
        break;
    case ReplyKind::Status: {
        if (!m_state.QuietLog)
            appendLog(QStringLiteral("Status parameters:DataSize: ") + size);
        if (const auto text = statusText(decodeStatusCode(buffer.data())))
            s.LblStatus->setText(*text);
        break;
    }
    case ReplyKind::None:
        break; // consumed and dropped
    }
}

void TForm2::ProcessPower(int slot)
{
    const PowerParameters p = decodePowerParameters(m_state.ReplyBuffer.data());
    if (PlantTotals::isSlot(slot)) {
        const SlotWidgets &s = w.slot[slot];
        for (int b = 0; b < PowerParameters::BlockCount; ++b) {
            const PowerBlock &block = p.blocks[b];
            s.values[b][0]->setText(formatGeneral(block.voltage(), m_locale) + QStringLiteral(" V"));
            s.values[b][1]->setText(formatGeneral(block.current(), m_locale) + QStringLiteral(" A"));
            s.values[b][2]->setText(formatGeneral(block.power(), m_locale) + QStringLiteral(" W"));
        }
        m_state.Totals.SlotPower[slot] = p.inverterPowerKw();
        s.TPower->setText(formatGeneral(m_state.Totals.SlotPower[slot], m_locale) + QStringLiteral(" KW"));
    }
    refreshPower();
}

void TForm2::refreshEnergy()
{
    m_state.Totals.refreshEnergy();
    w.ETotal_Total->setText(formatSixDigits(m_state.Totals.PlantEnergy));
    w.CO2_Total->setText(formatSixDigits(m_state.Totals.PlantCO2));
    SendDataToPanel();
}

void TForm2::refreshPower()
{
    m_state.Totals.refreshPower();
    w.Power_Total->setText(formatSixDigits(m_state.Totals.PlantPower));
}

// Three messages, each label read just before its message, with a pause
// after each. A call may start inside the pause of another; each message
// is handed to the link whole.
void TForm2::SendDataToPanel()
{
    const std::pair<char, Readout *> messages[] = {
        {PanelPowerLetter, w.Power_Total},
        {PanelEnergyLetter, w.ETotal_Total},
        {PanelCO2Letter, w.CO2_Total},
    };
    for (const auto &[letter, label] : messages) {
        const QByteArray message = composePanelMessage(letter, label->text());
        m_tcpPanel->SendBytes(message.constData(), int(message.size()));
        pause(m_durations.panelPause);
    }
}

void TForm2::Button3Click()
{
    SendDataToPanel();
}
