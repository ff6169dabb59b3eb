// Start-up, connection supervision, lamps, buttons and the event log of the
// monitor window, against real local peers.
#include "formfixture.h"
#include "app/widgets.h"
#include "net/simpletcp.h"

#include <QCheckBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

namespace {
const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);

QString hostLine(const char *prefix, FormFixture &f, int slot)
{
    return QString::fromLatin1(prefix) + QStringLiteral("127.0.0.1:") + QString::number(f.peer[slot]->port());
}

bool buttonsEnabled(const SlotWidgets &s)
{
    return s.SBP->isEnabled() && s.SBD->isEnabled() && s.SBT->isEnabled();
}
bool buttonsDisabled(const SlotWidgets &s)
{
    return !s.SBP->isEnabled() && !s.SBD->isEnabled() && !s.SBT->isEnabled();
}
} // namespace

class TestMonitorLinks : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qApp->setQuitOnLastWindowClosed(false); }
    void missingIniGivesDefaults();
    void labelsShowStoredPorts();
    void firstAttemptAfterOneInterval();
    void connectLinesAndLamps();
    void nullHostIsNeverConnected();
    void gracefulCloseWritesTwoLinesAndReconnects();
    void resetWritesErrorAndWaitsForTimer();
    void refusedRepeatsEveryTick();
    void unresolvableHostLeavesButtons();
    void panelLinkWritesNoConnectLines();
    void hostLabelReadAtEventTime();
    void closeDisconnectsInOrder();
    void clearLog();
    void logIsBounded();
};

void TestMonitorLinks::missingIniGivesDefaults()
{
    TForm2 form(QStringLiteral("/nonexistent/param.ini"), FormFixture::fastDurations());
    form.show();
    const FormWidgets &w = form.widgets();
    for (int slot = 1; slot <= 6; ++slot) {
        QCOMPARE(w.slot[slot].GB->title(), QStringLiteral("Error reading inifile"));
        QCOMPARE(w.slot[slot].LabelHost->text(), QStringLiteral("Error reading inifile:99"));
    }
    QCOMPARE(w.GB7->title(), QStringLiteral("LED Panel:Error reading inifile"));
    // Every tick, each of the seven links fails without a name server:
    // 10038, then 10014, and nothing else.
    const auto count = [&](const char *line) { return w.Memo1->toPlainText().count(QLatin1String(line)); };
    QTRY_VERIFY(count("Error:10014:Bad address") >= 14);
    const QStringList lines = w.Memo1->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size() % 14, 0);
    for (int i = 0; i < lines.size(); i += 2) {
        QCOMPARE(lines[i], QStringLiteral("Error:10038:Socket operation on non-socket"));
        QCOMPARE(lines[i + 1], QStringLiteral("Error:10014:Bad address"));
    }
}

void TestMonitorLinks::labelsShowStoredPorts()
{
    FormFixture f;
    QFile ini(f.dir.filePath(QStringLiteral("param.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write("[hosts]\nhost1ip=127.0.0.1\nhost3port=70000\nhost2port=0x55\nhost4port=-1\nhost5port=abc\n");
    ini.close();
    f.form->show();
    const FormWidgets &w = f.form->widgets();
    QCOMPARE(w.slot[1].LabelHost->text(), QStringLiteral("127.0.0.1:99"));
    QCOMPARE(w.slot[2].LabelHost->text(), QStringLiteral("Error reading inifile:85"));
    QCOMPARE(w.slot[3].LabelHost->text(), QStringLiteral("Error reading inifile:4464"));
    QCOMPARE(w.slot[4].LabelHost->text(), QStringLiteral("Error reading inifile:65535"));
    QCOMPARE(w.slot[5].LabelHost->text(), QStringLiteral("Error reading inifile:99"));
    QCOMPARE(f.form->TCP(3)->Port(), quint16(4464));
    QCOMPARE(f.form->state().ActiveInverter, 1);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(f.form->state().RequestFrame.data()), 8),
             QByteArray::fromHex("62ff03ff00000000"));
}

void TestMonitorLinks::firstAttemptAfterOneInterval()
{
    FormFixture f;
    QElapsedTimer t;
    t.start();
    f.form->show();
    QTest::qWait(f.durations.connectTimerInterval / 2);
    QCOMPARE(f.peer[1]->accepted(), 0);
    QVERIFY(f.log().isEmpty());
    QTRY_COMPARE(f.peer[1]->accepted(), 1);
    QVERIFY(t.elapsed() >= f.durations.connectTimerInterval - 5);
    QVERIFY(f.form->Timer2()->isActive());
    QCOMPARE(f.form->Timer2()->timerType(), Qt::PreciseTimer);
}

void TestMonitorLinks::connectLinesAndLamps()
{
    FormFixture f;
    const FormWidgets &w = f.form->widgets();
    for (int slot = 1; slot <= 6; ++slot) {
        QCOMPARE(w.slot[slot].Shape->color(), kRed);
        QVERIFY(buttonsDisabled(w.slot[slot]));
    }
    QVERIFY(f.showAndConnect());
    QStringList expected;
    for (int slot = 1; slot <= 6; ++slot) {
        expected << hostLine(slot == 2 ? "Connectedto:" : "Connected to:", f, slot);
        QCOMPARE(w.slot[slot].Shape->color(), kGreen);
        QVERIFY(buttonsEnabled(w.slot[slot]));
    }
    QCOMPARE(f.log(), expected);
    QCOMPARE(w.Shape7->color(), kGreen);
    // The caret is at the end and the last line is in view.
    QCOMPARE(w.Memo1->textCursor().position(), w.Memo1->toPlainText().size());
}

void TestMonitorLinks::nullHostIsNeverConnected()
{
    std::array<QString, 7> hosts;
    hosts[4] = QStringLiteral("Null");
    FormFixture f({}, FormFixture::fastDurations(), hosts);
    QVERIFY(f.showAndConnect());
    QTest::qWait(3 * f.durations.connectTimerInterval);
    QCOMPARE(f.peer[4]->accepted(), 0);
    QCOMPARE(f.form->widgets().slot[4].LabelHost->text(),
             QStringLiteral("Null:") + QString::number(f.peer[4]->port()));
    for (const QString &line : f.log())
        QVERIFY(!line.contains(QStringLiteral("Null")));
    QCOMPARE(f.log().size(), 5);
    QCOMPARE(f.form->widgets().slot[4].Shape->color(), kRed);
}

void TestMonitorLinks::gracefulCloseWritesTwoLinesAndReconnects()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.form->widgets().Memo1->clear();
    f.form->Timer2()->stop(); // the reconnect must come from the link itself
    f.peer[3]->closeGracefully();
    const QString down = hostLine("Disconnected from:", f, 3);
    QTRY_COMPARE(f.log(), (QStringList{down, down, hostLine("Connected to:", f, 3)}));
    QCOMPARE(f.peer[3]->accepted(), 2);
    QCOMPARE(f.form->widgets().slot[3].Shape->color(), kGreen);
    QVERIFY(buttonsEnabled(f.form->widgets().slot[3]));
}

void TestMonitorLinks::resetWritesErrorAndWaitsForTimer()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.form->widgets().Memo1->clear();
    f.peer[5]->reset();
    QTRY_COMPARE(f.log().mid(0, 2), (QStringList{hostLine("Disconnected from:", f, 5),
                                                 QStringLiteral("Error:10054:Connection reset by peer")}));
    QVERIFY(buttonsDisabled(f.form->widgets().slot[5]));
    // The connection timer brings it back.
    QTRY_COMPARE(f.peer[5]->accepted(), 2);
    QTRY_COMPARE(f.log().value(2), hostLine("Connected to:", f, 5));
}

void TestMonitorLinks::refusedRepeatsEveryTick()
{
    FormFixture f;
    const QString down = hostLine("Disconnected from:", f, 2);
    f.peer[2]->stopListening();
    f.form->show();
    QTRY_VERIFY(f.log().count(QStringLiteral("Error:10061:Connection refused")) >= 2);
    const QStringList log = f.log();
    const int first = int(log.indexOf(down));
    QVERIFY(first >= 0);
    QCOMPARE(log.value(first + 1), QStringLiteral("Error:10061:Connection refused"));
    QCOMPARE(log.count(down), log.count(QStringLiteral("Error:10061:Connection refused")));
    QCOMPARE(f.form->widgets().slot[2].Shape->color(), kRed);
}

void TestMonitorLinks::unresolvableHostLeavesButtons()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    TForm2 &form = *f.form;
    form.Timer2()->stop();
    form.widgets().Memo1->clear();
    // An error without a closed socket leaves the buttons as they are.
    form.TCP(1)->AssignConnected(false);
    form.TCP(1)->AssignHost(QStringLiteral("no such host"));
    form.widgets().slot[1].SBP->setEnabled(true); // as if still enabled
    form.Timer2Timer();
    QCOMPARE(f.log().mid(1), (QStringList{QStringLiteral("Error:10038:Socket operation on non-socket"),
                                          QStringLiteral("Error:10014:Bad address")}));
    QVERIFY(form.widgets().slot[1].SBP->isEnabled());
    QCOMPARE(form.widgets().slot[1].Shape->color(), kRed);
}

void TestMonitorLinks::panelLinkWritesNoConnectLines()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.form->widgets().Memo1->clear();
    f.form->Timer2()->stop();
    f.panel->closeGracefully();
    QTRY_VERIFY(f.panel->accepted() == 2 && f.form->TcpPanel()->Connected());
    QVERIFY(f.log().isEmpty());
    f.panel->reset();
    QTRY_COMPARE(f.log(), QStringList{QStringLiteral("Error:10054:Connection reset by peer")});
    QCOMPARE(f.form->widgets().Shape7->color(), kRed);
    for (int slot = 1; slot <= 6; ++slot)
        QCOMPARE(f.form->widgets().slot[slot].Shape->color(), kGreen);
}

void TestMonitorLinks::hostLabelReadAtEventTime()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.form->widgets().Memo1->clear();
    f.form->widgets().slot[6].LabelHost->setText(QStringLiteral("renamed"));
    f.form->TCP(6)->AssignConnected(false);
    QCOMPARE(f.log(), QStringList{QStringLiteral("Disconnected from:renamed")});
}

void TestMonitorLinks::closeDisconnectsInOrder()
{
    FormFixture f;
    QVERIFY(f.showAndConnect());
    f.form->widgets().CB1->setChecked(true);
    f.form->widgets().Memo1->clear();
    QVERIFY(f.form->close());
    QStringList expected;
    for (int slot = 1; slot <= 6; ++slot)
        expected << hostLine("Disconnected from:", f, slot);
    QCOMPARE(f.log(), expected);
    QVERIFY(!f.form->Timer1()->isActive());
    QCOMPARE(f.form->widgets().Shape7->color(), kRed);
    for (int slot = 1; slot <= 6; ++slot)
        QVERIFY(buttonsDisabled(f.form->widgets().slot[slot]));
}

void TestMonitorLinks::clearLog()
{
    FormFixture f;
    QPlainTextEdit *memo = f.form->widgets().Memo1;
    f.form->widgets().Button2->click(); // empty log: nothing changes
    QVERIFY(memo->toPlainText().isEmpty());
    f.form->appendLog(QStringLiteral("one"));
    f.form->appendLog(QStringLiteral("two"));
    QTest::mouseClick(f.form->widgets().Button2, Qt::LeftButton);
    QVERIFY(memo->toPlainText().isEmpty());
    f.form->appendLog(QStringLiteral("three"));
    QCOMPARE(f.log(), QStringList{QStringLiteral("three")});
}

void TestMonitorLinks::logIsBounded()
{
    FormFixture f;
    QPlainTextEdit *memo = f.form->widgets().Memo1;
    for (int i = 0; i < 100010; ++i)
        f.form->appendLog(QStringLiteral("Error:10061:Connection refused"));
    QCOMPARE(memo->document()->blockCount(), 100000);
}

QTEST_MAIN(TestMonitorLinks)
#include "tst_monitor_links.moc"
