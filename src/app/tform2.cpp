#include "tform2.h"

#include "config/inifile.h"
#include "config/plantconfig.h"
#include "net/simpletcp.h"
#include "widgets.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {
const QColor kLinkUp(0, 128, 0);
const QColor kLinkDown(255, 0, 0);

// Runs a handler from a Qt signal; an exception goes to the application's
// exception handler instead of crossing the event loop.
template <typename F> auto guarded(F f)
{
    return [f]() {
        try {
            f();
        } catch (const std::exception &e) {
            HandleApplicationException(e);
        }
    };
}
} // namespace

void setTimerEnabled(QTimer *timer, bool enabled)
{
    if (!enabled)
        timer->stop();
    else if (!timer->isActive())
        timer->start();
}

TForm2::TForm2(const QString &iniPath, const Durations &durations, QWidget *parent)
    : QWidget(parent), m_durations(durations), m_iniPath(iniPath)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Brelvon"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(991, 713);
    buildFormWidgets(this, w);

    for (int slot = 1; slot <= 6; ++slot) {
        auto *link = new TSimpleTCPClient(this, m_durations);
        link->setObjectName(QStringLiteral("TCP%1").arg(slot));
        link->AutoTryReconnect = true;
        m_tcp[slot] = link;
    }
    m_tcpPanel = new TSimpleTCPClient(this, m_durations);
    m_tcpPanel->setObjectName(QStringLiteral("TcpPanel"));
    m_tcpPanel->AutoTryReconnect = true;

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setTimerType(Qt::PreciseTimer);
    m_timer1->setInterval(m_durations.pollTimerInterval);
    m_timer2 = new QTimer(this);
    m_timer2->setObjectName(QStringLiteral("Timer2"));
    m_timer2->setTimerType(Qt::PreciseTimer);
    m_timer2->setInterval(m_durations.connectTimerInterval);

    wireEvents();
    setTimerEnabled(m_timer2, true); // connection supervision runs from creation
}

TForm2::~TForm2()
{
    m_pause.stop();
    // The links outlive the widgets by a moment while the window is taken
    // down: nothing may reach a handler any more.
    for (TSimpleTCPClient *link : {m_tcp[1], m_tcp[2], m_tcp[3], m_tcp[4], m_tcp[5], m_tcp[6], m_tcpPanel}) {
        link->OnConnected = nullptr;
        link->OnDisconnected = nullptr;
        link->OnDataAvailable = nullptr;
        link->OnError = [](TCustomSimpleSocket *, int, int, const QString &) {};
    }
}

void TForm2::wireEvents()
{
    for (int slot = 1; slot <= 6; ++slot) {
        TSimpleTCPClient *link = m_tcp[slot];
        link->OnConnected = [this, slot](TSimpleTCPClient *) { TCPConnected(slot); };
        link->OnDisconnected = [this, slot](TSimpleTCPClient *) { TCPDisconnected(slot); };
        link->OnError = [this, slot](TCustomSimpleSocket *, int, int code, const QString &text) {
            TCPError(slot, code, text);
        };
        link->OnDataAvailable = [this, slot](TSimpleTCPClient *, int size) { TCPDataAvailable(slot, size); };

        const SlotWidgets &s = w.slot[slot];
        connect(s.GB, &ClickGroup::clicked, this, guarded([this, slot] { GBClick(slot); }));
        connect(s.SBP, &QPushButton::clicked, this, guarded([this, slot] { SBPClick(slot); }));
        connect(s.SBD, &QPushButton::clicked, this, guarded([this, slot] { SBDClick(slot); }));
        connect(s.SBT, &QPushButton::clicked, this, guarded([this, slot] { SBTClick(slot); }));
    }
    // The panel link has no data handler: what the panel sends is dropped.
    m_tcpPanel->OnConnected = [this](TSimpleTCPClient *) { TcpPanelConnected(); };
    m_tcpPanel->OnDisconnected = [this](TSimpleTCPClient *) { TcpPanelDisconnected(); };
    m_tcpPanel->OnError = [this](TCustomSimpleSocket *, int, int code, const QString &text) {
        TcpPanelError(code, text);
    };

    connect(w.CB1, &QCheckBox::toggled, this, guarded([this] { CB1Click(); }));
    connect(w.Button1, &QPushButton::clicked, this, guarded([this] { Button1Click(); }));
    connect(w.Button2, &QPushButton::clicked, this, guarded([this] { Button2Click(); }));
    connect(w.Button3, &QPushButton::clicked, this, guarded([this] { Button3Click(); }));
    connect(m_timer1, &QTimer::timeout, this, guarded([this] { Timer1Timer(); }));
    connect(m_timer2, &QTimer::timeout, this, guarded([this] { Timer2Timer(); }));
}

// ---------------------------------------------------------------------------
// Start-up, configuration and connection supervision

void TForm2::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return; // read once per run, also when shown again
    m_shown = true;
    if (QScreen *s = screen())
        move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    FormShow();
}

void TForm2::FormShow()
{
    const PlantConfig config = PlantConfig::read(IniFile::fromFile(m_iniPath));
    for (int slot = 1; slot <= 6; ++slot)
        w.slot[slot].GB->setTitle(config.names[slot]);
    w.GB7->setTitle(QStringLiteral("LED Panel:") + config.panelHost);
    // No link is connected yet, so host and port are only stored.
    for (int slot = 1; slot <= 6; ++slot)
        m_tcp[slot]->AssignHost(config.hosts[slot]);
    m_tcpPanel->AssignHost(config.panelHost);
    for (int slot = 1; slot <= 6; ++slot)
        m_tcp[slot]->AssignPort(config.ports[slot]);
    m_tcpPanel->AssignPort(config.panelPort);
    for (int slot = 1; slot <= 6; ++slot) // the labels size themselves to their text
        w.slot[slot].LabelHost->setText(m_tcp[slot]->Host() + QLatin1Char(':')
                                        + QString::number(m_tcp[slot]->Port()));

    // The request state.
    const quint8 device = 255;
    m_state.RequestFrame = {0x62, device, 0x03, device, 0x00, 0x00, 0x00, 0x00};
    m_state.ActiveInverter = 1;

    if (m_autoReadAtStart || config.autoRead)
        w.CB1->setChecked(true);
}

void TForm2::Timer2Timer()
{
    for (int slot = 1; slot <= 6; ++slot) {
        if (m_tcp[slot]->Host() != QLatin1String("Null"))
            m_tcp[slot]->AssignConnected(true);
    }
    if (m_tcpPanel->Host() != QLatin1String("Null"))
        m_tcpPanel->AssignConnected(true);
}

void TForm2::FormClose()
{
    setTimerEnabled(m_timer1, false);
    for (int slot = 1; slot <= 6; ++slot)
        m_tcp[slot]->AssignConnected(false);
    m_tcpPanel->AssignConnected(false);
}

void TForm2::closeEvent(QCloseEvent *event)
{
    try {
        FormClose();
    } catch (const std::exception &e) {
        HandleApplicationException(e);
    }
    // A cycle or panel update paused below this point runs through at once.
    m_pause.stop();
    event->accept();
}

void TForm2::Button1Click()
{
    close();
}

void TForm2::Button2Click()
{
    w.Memo1->clear();
#ifdef __GLIBC__
    // A long log is many small blocks; hand them back to the system, or a
    // monitor that runs for months keeps its largest log's memory for good.
    malloc_trim(0);
#endif
}

// ---------------------------------------------------------------------------
// Link status and event log

void TForm2::appendLog(const QString &line)
{
    w.Memo1->appendPlainText(line);
    w.Memo1->moveCursor(QTextCursor::End);
    w.Memo1->ensureCursorVisible();
}

void TForm2::TCPConnected(int slot)
{
    const SlotWidgets &s = w.slot[slot];
    appendLog((slot == 2 ? QStringLiteral("Connectedto:") : QStringLiteral("Connected to:")) + s.LabelHost->text());
    s.Shape->setColor(kLinkUp);
    s.SBP->setEnabled(true);
    s.SBD->setEnabled(true);
    s.SBT->setEnabled(true);
}

void TForm2::TCPDisconnected(int slot)
{
    const SlotWidgets &s = w.slot[slot];
    appendLog(QStringLiteral("Disconnected from:") + s.LabelHost->text());
    s.Shape->setColor(kLinkDown);
    s.SBP->setEnabled(false);
    s.SBD->setEnabled(false);
    s.SBT->setEnabled(false);
}

void TForm2::TCPError(int slot, int ErrorCode, const QString &ErrorMsg)
{
    w.slot[slot].Shape->setColor(kLinkDown);
    appendLog(QStringLiteral("Error:") + QString::number(ErrorCode) + QLatin1Char(':') + ErrorMsg);
}

void TForm2::TcpPanelConnected()
{
    w.Shape7->setColor(kLinkUp);
}

void TForm2::TcpPanelDisconnected()
{
    w.Shape7->setColor(kLinkDown);
}

void TForm2::TcpPanelError(int ErrorCode, const QString &ErrorMsg)
{
    w.Shape7->setColor(kLinkDown);
    appendLog(QStringLiteral("Error:") + QString::number(ErrorCode) + QLatin1Char(':') + ErrorMsg);
}
