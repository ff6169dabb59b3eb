#include "formfixture.h"

#include "net/simpletcp.h"

#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>

Durations FormFixture::fastDurations()
{
    Durations d;
    d.connectTimerInterval = 150;
    d.pollTimerInterval = 300;
    d.totalPowerPause = 120;
    d.pressPause = 60;
    d.panelPause = 60;
    d.connectTimeout = 1000;
    d.receiveStall = 30;
    d.reconnectGuard = 2000;
    return d;
}

FormFixture::FormFixture(const QString &extraIni, const Durations &d, const std::array<QString, 7> &hosts)
    : durations(d)
{
    QString ini = QStringLiteral("[Hosts]\n");
    for (int slot = 1; slot <= 6; ++slot) {
        peer[slot] = std::make_unique<TestPeer>();
        const QString host = hosts[slot].isNull() ? QStringLiteral("127.0.0.1") : hosts[slot];
        ini += QStringLiteral("Host%1Name=Inverter %1\nHost%1IP=%2\nHost%1Port=%3\n")
                       .arg(slot)
                       .arg(host)
                       .arg(peer[slot]->port());
    }
    panel = std::make_unique<TestPeer>();
    ini += QStringLiteral("[Panel]\nPanelIP=127.0.0.1\nPanelPort=%1\n").arg(panel->port());
    ini += extraIni;
    QFile f(dir.filePath(QStringLiteral("param.ini")));
    f.open(QIODevice::WriteOnly);
    f.write(ini.toUtf8());
    f.close();
    form = std::make_unique<TForm2>(f.fileName(), durations);
    form->setNumberLocale(QLocale::c());
}

bool FormFixture::showAndConnect()
{
    form->show();
    return QTest::qWaitFor(
            [this] {
                for (int slot = 1; slot <= 6; ++slot) {
                    if (form->TCP(slot)->Host() == QLatin1String("127.0.0.1")
                        && !(form->TCP(slot)->Connected() && peer[slot]->hasClient()))
                        return false;
                }
                return form->TcpPanel()->Connected() && panel->hasClient();
            },
            5000);
}

QStringList FormFixture::log() const
{
    const QString text = form->widgets().Memo1->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

QWidget *FormFixture::widget(const QString &objectName) const
{
    return form->findChild<QWidget *>(objectName);
}

QString FormFixture::text(const QString &objectName) const
{
    if (auto *label = form->findChild<QLabel *>(objectName))
        return label->text();
    return QString();
}
