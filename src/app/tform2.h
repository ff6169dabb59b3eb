#pragma once

#include "durations.h"
#include "formlayout.h"
#include "monitorstate.h"
#include "pause.h"

#include <QLocale>
#include <QWidget>

#include <array>

class QTimer;
class TSimpleTCPClient;

// The main window: owns the seven links, the two timers and every
// component, and holds the handlers of the monitor. The per-slot handler
// families take the slot number (1..6).
class TForm2 : public QWidget {
    Q_OBJECT
public:
    // iniPath: the param.ini to read when the window is first shown.
    explicit TForm2(const QString &iniPath, const Durations &durations = Durations::product(),
                    QWidget *parent = nullptr);
    ~TForm2() override;

    // Components, for the program entry and the tests.
    const FormWidgets &widgets() const { return w; }
    TSimpleTCPClient *TCP(int slot) const { return m_tcp.at(slot); }
    TSimpleTCPClient *TcpPanel() const { return m_tcpPanel; }
    QTimer *Timer1() const { return m_timer1; }
    QTimer *Timer2() const { return m_timer2; }
    MonitorState &state() { return m_state; }
    // Numbers are shown with this locale's decimal separator (default: the user's).
    void setNumberLocale(const QLocale &locale) { m_locale = locale; }
    // Tick "Auto-Read" at start, as the operator would (unattended operation).
    void setAutoReadAtStart(bool on) { m_autoReadAtStart = on; }

    // Start-up, configuration and connection supervision
    void FormShow();
    void FormClose();
    void Timer2Timer();
    void Button1Click();
    void Button2Click();

    // Link status and event log
    void TCPConnected(int slot);
    void TCPDisconnected(int slot);
    void TCPError(int slot, int ErrorCode, const QString &ErrorMsg);
    void TcpPanelConnected();
    void TcpPanelDisconnected();
    void TcpPanelError(int ErrorCode, const QString &ErrorMsg);
    void appendLog(const QString &line);

    // Requests and polling
    void GBClick(int slot);
    void SBPClick(int slot);
    void SBDClick(int slot);
    void SBTClick(int slot);
    void CB1Click();
    void Timer1Timer();

    // Answers, totals and the LED panel
    void TCPDataAvailable(int slot, int DataSize);
    void ProcessPower(int slot);
    void SendDataToPanel();
    void Button3Click();

    // The one pause of every waiting handler.
    void pause(int ms) { m_pause.wait(ms); }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void requestStep(Command command, int slot);
    void refreshEnergy();
    void refreshPower();
    void wireEvents();

    FormWidgets w;
    Durations m_durations;
    QString m_iniPath;
    QLocale m_locale;
    MonitorState m_state;
    EventPause m_pause;
    std::array<TSimpleTCPClient *, 7> m_tcp{}; // 1..6
    TSimpleTCPClient *m_tcpPanel = nullptr;
    QTimer *m_timer1 = nullptr;
    QTimer *m_timer2 = nullptr;
    bool m_shown = false;
    bool m_autoReadAtStart = false;
};

// Sets a timer's Enabled as the window toolkit's timers do: true on a
// running timer changes nothing; false to true starts a full interval.
void setTimerEnabled(QTimer *timer, bool enabled);
