#include "config/inifile.h"
#include "config/plantconfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

const QString Default = QStringLiteral("DEF");

// Bytes of a literal, embedded NULs included.
template <qsizetype N>
QByteArray bytesOf(const char (&literal)[N])
{
    return QByteArray(literal, N - 1);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

void checkAllDefaults(const PlantConfig &c)
{
    for (int slot = 1; slot <= PlantConfig::SlotCount; ++slot) {
        QCOMPARE(c.names[slot], QStringLiteral("Error reading inifile"));
        QCOMPARE(c.hosts[slot], QStringLiteral("Error reading inifile"));
        QCOMPARE(c.ports[slot], quint16(99));
    }
    QCOMPARE(c.panelHost, QStringLiteral("Error reading inifile"));
    QCOMPARE(c.panelPort, quint16(99));
    QCOMPARE(c.autoRead, false);
}

} // namespace

class tst_Config : public QObject {
    Q_OBJECT

private slots:
    void readString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        const QString a2047(2047, u'a');
        QTest::newRow("plain") << "[Hosts]\nHost1IP=10.0.0.1\n" << "Hosts" << "Host1IP" << "10.0.0.1";
        QTest::newRow("lower-case file names") << "[hosts]\nhost1ip=a\n" << "Hosts" << "Host1IP" << "a";
        QTest::newRow("upper-case lookup") << "[Hosts]\nHost1IP=a\n" << "HOSTS" << "HOST1IP" << "a";
        QTest::newRow("blanks around names and value") << " \t[ Hosts ] \n  Host1IP \t=  a b \t\n" << "Hosts" << "Host1IP" << "a b";
        QTest::newRow("double quotes keep inner blanks") << "[S]\nk= \"  a  \" \n" << "S" << "k" << "  a  ";
        QTest::newRow("single quotes") << "[S]\nk='x'\n" << "S" << "k" << "x";
        QTest::newRow("only one pair of quotes") << "[S]\nk=\"\"x\"\"\n" << "S" << "k" << "\"x\"";
        QTest::newRow("mismatched quotes kept") << "[S]\nk=\"x'\n" << "S" << "k" << "\"x'";
        QTest::newRow("lone quote kept") << "[S]\nk=\"\n" << "S" << "k" << "\"";
        QTest::newRow("inner quotes kept") << "[S]\nk=a \"b\" c\n" << "S" << "k" << "a \"b\" c";
        QTest::newRow("empty value") << "[Hosts]\nHost1IP=\n" << "Hosts" << "Host1IP" << "";
        QTest::newRow("empty quoted value") << "[Hosts]\nHost1IP=\"\"\n" << "Hosts" << "Host1IP" << "";
        QTest::newRow("equals in value") << "[S]\nk=a=b\n" << "S" << "k" << "a=b";
        QTest::newRow("commas, backslashes, semicolons literal") << "[S]\nk=a,b\\n;c\n" << "S" << "k" << "a,b\\n;c";
        QTest::newRow("comment line skipped") << "[S]\n;k=x\n  ; k=y\nk=z\n" << "S" << "k" << "z";
        QTest::newRow("comment only") << "[S]\n;k=x\n" << "S" << "k" << Default;
        QTest::newRow("line without equals") << "[S]\nk\n" << "S" << "k" << Default;
        QTest::newRow("empty key skipped") << "[S]\n=x\n" << "S" << "" << Default;
        QTest::newRow("first key wins") << "[S]\nk=1\nK=2\n" << "S" << "k" << "1";
        QTest::newRow("repeated section ignored") << "[S]\na=1\n[s]\na=2\nb=3\n" << "S" << "a" << "1";
        QTest::newRow("repeated section keys not merged") << "[S]\na=1\n[s]\nb=3\n" << "S" << "b" << Default;
        QTest::newRow("key of another section") << "[Panel]\nHost1IP=x\n[Hosts]\n" << "Hosts" << "Host1IP" << Default;
        QTest::newRow("key before any section") << "Host1IP=x\n[Hosts]\n" << "Hosts" << "Host1IP" << Default;
        QTest::newRow("missing key") << "[Hosts]\nHost2IP=x\n" << "Hosts" << "Host1IP" << Default;
        QTest::newRow("missing section") << "[Panel]\nPanelIP=x\n" << "Hosts" << "PanelIP" << Default;
        QTest::newRow("empty text") << "" << "Hosts" << "Host1IP" << Default;
        QTest::newRow("CR LF") << "[S]\r\nk=a \r\nm=b\r\n" << "S" << "k" << "a";
        QTest::newRow("CR LF last key") << "[S]\r\nk=a\r\nm=b\r\n" << "S" << "m" << "b";
        QTest::newRow("lone CR") << "[S]\rk=a\rm=b" << "S" << "m" << "b";
        QTest::newRow("no final line end") << "[S]\nk=a" << "S" << "k" << "a";
        QTest::newRow("byte order mark") << "\uFEFF[Hosts]\nHost1IP=a\n" << "Hosts" << "Host1IP" << "a";
        QTest::newRow("UTF-8 value") << "[S]\nk=Wechselrichter Süd ☀\n" << "S" << "k" << "Wechselrichter Süd ☀";
        QTest::newRow("text after header") << "[Hosts] ; the inverters\nk=v\n" << "Hosts" << "k" << "v";
        QTest::newRow("unterminated header skipped") << "[S]\n[Panel\nk=v\n" << "S" << "k" << "v";
        QTest::newRow("value of 2047 kept") << "[S]\nk=" + a2047 + "\n" << "S" << "k" << a2047;
        QTest::newRow("value of 2048 cut") << "[S]\nk=" + a2047 + "b\n" << "S" << "k" << a2047;
        QTest::newRow("value of 5000 cut") << "[S]\nk=" + QString(5000, u'a') << "S" << "k" << a2047;
        QTest::newRow("quotes removed before cut") << "[S]\nk=\"" + a2047 + "\"\n" << "S" << "k" << a2047;
        QTest::newRow("cut keeps surrogate pairs whole")
            << "[S]\nk=" + QString(2046, u'a') + "😀" << "S" << "k" << QString(2046, u'a');
    }

    void readString()
    {
        QFETCH(QString, text);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QCOMPARE(IniFile::fromString(text).readString(section, key, Default), expected);
    }

    void readInteger_data()
    {
        QTest::addColumn<QString>("value"); // null: no such key
        QTest::addColumn<int>("expected");

        QTest::newRow("decimal") << "8080" << 8080;
        QTest::newRow("plus sign") << "+12" << 12;
        QTest::newRow("minus sign") << "-1" << -1;
        QTest::newRow("leading zeros") << "007" << 7;
        QTest::newRow("blanks around") << "  42 \t" << 42;
        QTest::newRow("quoted") << "\"42\"" << 42;
        QTest::newRow("int max") << "2147483647" << 2147483647;
        QTest::newRow("int min") << "-2147483648" << int(-2147483647 - 1);
        QTest::newRow("overflow") << "2147483648" << 99;
        QTest::newRow("underflow") << "-2147483649" << 99;
        QTest::newRow("many digits") << "123456789012345678901234567890" << 99;
        QTest::newRow("hex 0x55") << "0x55" << 85;
        QTest::newRow("hex upper X") << "0X1f" << 31;
        QTest::newRow("hex FFFF") << "0xFFFF" << 65535;
        QTest::newRow("hex all ones") << "0xFFFFFFFF" << -1;
        QTest::newRow("hex sign bit") << "0x80000000" << int(-2147483647 - 1);
        QTest::newRow("hex leading zeros") << "0x0000000055" << 85;
        QTest::newRow("hex too big") << "0x100000000" << 99;
        QTest::newRow("hex prefix only") << "0x" << 99;
        QTest::newRow("hex bad digit") << "0x5G" << 99;
        QTest::newRow("hex with sign") << "0x-5" << 99;
        QTest::newRow("signed hex") << "-0x5" << 99;
        QTest::newRow("dollar hex") << "$55" << 99;
        QTest::newRow("empty") << "" << 99;
        QTest::newRow("abc") << "abc" << 99;
        QTest::newRow("trailing letters") << "12abc" << 99;
        QTest::newRow("inner blank") << "1 2" << 99;
        QTest::newRow("sign only") << "-" << 99;
        QTest::newRow("double sign") << "--1" << 99;
        QTest::newRow("decimal point") << "1.5" << 99;
        QTest::newRow("other script digits") << "\u0661\u0662" << 99;
        QTest::newRow("fullwidth digits") << "\uFF11\uFF12" << 99;
        QTest::newRow("missing key") << QString() << 99;
    }

    void readInteger()
    {
        QFETCH(QString, value);
        QFETCH(int, expected);
        const QString text = value.isNull() ? QStringLiteral("[S]\nother=1\n") : "[S]\nk=" + value + "\n";
        QCOMPARE(IniFile::fromString(text).readInteger("s", "K", 99), expected);
    }

    void defaultsAreTheCallers()
    {
        const IniFile ini = IniFile::fromString("[S]\nk=abc\n");
        QCOMPARE(ini.readInteger("S", "k", -7), -7);
        QCOMPARE(ini.readInteger("S", "missing", 1234), 1234);
        QCOMPARE(ini.readString("S", "missing", "fallback"), QStringLiteral("fallback"));
    }

    void plantDefaultsWithoutFile()
    {
        checkAllDefaults(PlantConfig::read(IniFile()));
        checkAllDefaults(PlantConfig::read(IniFile::fromString("[Hosts]\n[Panel]\n")));
    }

    void plantPorts_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<quint16>("expected");

        QTest::newRow("0x55") << "0x55" << quint16(85);
        QTest::newRow("70000 keeps low bits") << "70000" << quint16(4464);
        QTest::newRow("-1 keeps low bits") << "-1" << quint16(65535);
        QTest::newRow("65536") << "65536" << quint16(0);
        QTest::newRow("0xFFFFFFFF") << "0xFFFFFFFF" << quint16(65535);
        QTest::newRow("abc") << "abc" << quint16(99);
        QTest::newRow("empty") << "" << quint16(99);
    }

    void plantPorts()
    {
        QFETCH(QString, value);
        QFETCH(quint16, expected);
        const PlantConfig c = PlantConfig::read(
            IniFile::fromString("[Hosts]\nHost3Port=" + value + "\n[Panel]\nPanelPort=" + value + "\n"));
        QCOMPARE(c.ports[3], expected);
        QCOMPARE(c.panelPort, expected);
        QCOMPARE(c.ports[2], quint16(99));
    }

    void plantFullFile()
    {
        // Lower-case names, every slot different, "Null" and an empty host.
        QString text = "[hosts]\n";
        for (int n = 1; n <= 6; ++n)
            text += QString("host%1name=Inverter %1\nhost%1ip=10.0.0.%1\nhost%1port=%2\n").arg(n).arg(5000 + n);
        text.replace("host4ip=10.0.0.4", "Host4IP=Null").replace("host1ip=10.0.0.1", "HOST1IP=");
        text += "[panel]\npanelip=panel.local\npanelport=0x1F90\n[monitor]\nautoread=1\n";
        const PlantConfig c = PlantConfig::read(IniFile::fromString(text));

        for (int n = 1; n <= 6; ++n) {
            QCOMPARE(c.names[n], QString("Inverter %1").arg(n));
            QCOMPARE(c.ports[n], quint16(5000 + n));
        }
        QCOMPARE(c.hosts[1], QString(""));
        QVERIFY(c.hosts[1] != QStringLiteral("Error reading inifile"));
        QCOMPARE(c.hosts[2], QStringLiteral("10.0.0.2"));
        QCOMPARE(c.hosts[4], QStringLiteral("Null"));
        QCOMPARE(c.hosts[6], QStringLiteral("10.0.0.6"));
        QCOMPARE(c.panelHost, QStringLiteral("panel.local"));
        QCOMPARE(c.panelPort, quint16(8080));
        QCOMPARE(c.autoRead, true);
    }

    void plantAutoRead_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");

        QTest::newRow("one") << "[Monitor]\nAutoRead=1\n" << true;
        QTest::newRow("zero") << "[Monitor]\nAutoRead=0\n" << false;
        QTest::newRow("minus one") << "[Monitor]\nAutoRead=-1\n" << true;
        QTest::newRow("65536 is non-zero") << "[Monitor]\nAutoRead=65536\n" << true;
        QTest::newRow("hex") << "[Monitor]\nAutoRead=0x10\n" << true;
        QTest::newRow("not a number") << "[Monitor]\nAutoRead=yes\n" << false;
        QTest::newRow("missing") << "[Hosts]\nAutoRead=1\n" << false;
    }

    void plantAutoRead()
    {
        QFETCH(QString, text);
        QFETCH(bool, expected);
        QCOMPARE(PlantConfig::read(IniFile::fromString(text)).autoRead, expected);
    }

    void defaultPathIsBesideTheExecutable()
    {
        QTemporaryDir elsewhere;
        QVERIFY(elsewhere.isValid());
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        const QString path = PlantConfig::defaultPath();
        QVERIFY(QDir::setCurrent(before));

        const QFileInfo info(path);
        QVERIFY(info.isAbsolute());
        QCOMPARE(info.fileName(), QStringLiteral("param.ini"));
        QCOMPARE(info.absolutePath(), QFileInfo(QCoreApplication::applicationFilePath()).absolutePath());
    }

    void fromFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("param.ini");
        QVERIFY(writeFile(path, "\xEF\xBB\xBF[Hosts]\r\nHost3IP=192.168.1.13\r\nHost3Port=0x55\r\n"));
        const PlantConfig c = PlantConfig::read(IniFile::fromFile(path));
        QCOMPARE(c.hosts[3], QStringLiteral("192.168.1.13"));
        QCOMPARE(c.ports[3], quint16(85));
        QCOMPARE(c.hosts[2], QStringLiteral("Error reading inifile"));

        checkAllDefaults(PlantConfig::read(IniFile::fromFile(dir.filePath("missing.ini"))));
        checkAllDefaults(PlantConfig::read(IniFile::fromFile(dir.path())));
        checkAllDefaults(PlantConfig::read(IniFile::fromFile(QString())));
#ifdef Q_OS_UNIX
        // A FIFO would block forever on open; it must be refused instead.
        const QString fifo = dir.filePath("fifo.ini");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        checkAllDefaults(PlantConfig::read(IniFile::fromFile(fifo)));
#endif
    }

    void unreadableFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("param.ini");
        QVERIFY(writeFile(path, "[Hosts]\nHost1IP=x\n"));
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        if (QFile(path).open(QIODevice::ReadOnly))
            QSKIP("running with rights that read any file");
        checkAllDefaults(PlantConfig::read(IniFile::fromFile(path)));
    }

    void inputLimit()
    {
        // Keys are read up to the limit; the line it cuts is dropped whole.
        QByteArray data = "[Hosts]\nHost1IP=early\n";
        const QByteArray filler = "; " + QByteArray(60, 'x') + "\n";
        while (data.size() + filler.size() <= IniFile::MaxInputBytes - 10)
            data += filler;
        data += "Host2IP=" + QByteArray(100, 'y') + "\nHost3IP=late\n";
        QVERIFY(data.size() > IniFile::MaxInputBytes);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("param.ini");
        QVERIFY(writeFile(path, data + QByteArray(4 * IniFile::MaxInputBytes, '\n')));
        for (const IniFile &ini : {IniFile::fromData(data), IniFile::fromFile(path)}) {
            QCOMPARE(ini.readString("Hosts", "Host1IP", Default), QStringLiteral("early"));
            QCOMPARE(ini.readString("Hosts", "Host2IP", Default), Default);
            QCOMPARE(ini.readString("Hosts", "Host3IP", Default), Default);
        }

        // A line that ends exactly at the limit is whole.
        QByteArray exact = "[S]\nk=";
        exact += QByteArray(IniFile::MaxInputBytes - exact.size(), 'z') + "\nrest";
        QCOMPARE(IniFile::fromData(exact).readString("S", "k", Default).size(), IniFile::MaxValueLength);
    }

    void garbage_data()
    {
        QTest::addColumn<QByteArray>("bytes");

        QTest::newRow("NUL bytes") << bytesOf("[Hosts]\nHost1IP=a\0b\n\0\0[\0]=\0\n");
        QTest::newRow("invalid UTF-8") << QByteArray("[Hosts]\nHost1IP=\xC3\n\xFF\xFE=\xF0\x9F\n[\xE2\x82]\nx=\x80");
        QTest::newRow("half BOM") << QByteArray("\xEF\xBB[Hosts]\nHost1IP=a\n");
        QTest::newRow("only brackets") << QByteArray("[]]][[[=]\n[\n]\n[=\n=]\n");
        QTest::newRow("one long line") << QByteArray(3 * IniFile::MaxInputBytes, '[');
        QTest::newRow("many sections") << QByteArray("[a]\nk=1\n").repeated(150000);
        QRandomGenerator rng(20240611);
        const char alphabet[] = "[]=;\"' \t\r\n\0aK\xC3\xFF";
        for (int round = 0; round < 8; ++round) {
            QByteArray blob(1 << 16, Qt::Uninitialized);
            for (char &c : blob)
                c = round % 2 ? char(rng.bounded(256)) : alphabet[rng.bounded(int(sizeof alphabet))];
            QTest::newRow(qPrintable(QString("random %1").arg(round))) << blob;
        }
    }

    void garbage()
    {
        QFETCH(QByteArray, bytes);
        const IniFile ini = IniFile::fromData(bytes);
        const PlantConfig c = PlantConfig::read(ini);
        for (int slot = 1; slot <= PlantConfig::SlotCount; ++slot)
            QVERIFY(c.hosts[slot].size() <= IniFile::MaxValueLength);
        QVERIFY(c.panelHost.size() <= IniFile::MaxValueLength);
    }

    void garbageValuesDecodeSafely()
    {
        const IniFile ini = IniFile::fromData(bytesOf("[S]\nnul=a\0b\nbad=\xC3\nafter=ok\n"));
        QCOMPARE(ini.readString("S", "nul", Default), QString::fromUtf16(u"a\0b", 3));
        QCOMPARE(ini.readString("S", "bad", Default), QString(QChar::ReplacementCharacter));
        QCOMPARE(ini.readString("S", "after", Default), QStringLiteral("ok"));
    }
};

QTEST_GUILESS_MAIN(tst_Config)
#include "tst_config.moc"
