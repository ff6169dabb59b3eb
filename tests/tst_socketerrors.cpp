#include "net/socketerrors.h"

#include <QTest>

#include <cerrno>

class TestSocketErrors : public QObject {
    Q_OBJECT
private slots:
    void texts_data();
    void texts();
    void everyOtherCodeIsTheDefault();
    void nativeErrors_data();
    void nativeErrors();
};

void TestSocketErrors::texts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("10004") << 10004 << "Interrupted system call";
    QTest::newRow("10009") << 10009 << "Bad file number";
    QTest::newRow("10014") << 10014 << "Bad address";
    QTest::newRow("10035") << 10035 << "Operation would block";
    QTest::newRow("10038") << 10038 << "Socket operation on non-socket";
    QTest::newRow("10047") << 10047 << "Address family not supported by protocol family";
    QTest::newRow("10049") << 10049 << "Can't assign requested address";
    QTest::newRow("10053") << 10053 << "Software caused connection abort";
    QTest::newRow("10054") << 10054 << "Connection reset by peer";
    QTest::newRow("10057") << 10057 << "Socket is not connected";
    QTest::newRow("10059") << 10059 << "Too many references: can't splice";
    QTest::newRow("10060") << 10060 << "Connection timed out";
    QTest::newRow("10061") << 10061 << "Connection refused";
    QTest::newRow("10071") << 10071 << "Too many levels of remote in path";
    QTest::newRow("10091") << 10091 << "Network sub-system is unusable";
    QTest::newRow("10092") << 10092 << "WinSock DLL cannot support this application";
    QTest::newRow("10093") << 10093 << "WinSock not initialized";
    QTest::newRow("11001") << 11001 << "Host not found";
    QTest::newRow("11002") << 11002 << "Non-authoritative host not found";
    QTest::newRow("11003") << 11003 << "Non-recoverable error";
    QTest::newRow("11004") << 11004 << "No Data";
    QTest::newRow("zero") << 0 << "Not a WinSock error ?";
    QTest::newRow("negative") << -1 << "Not a WinSock error ?";
    QTest::newRow("10000") << 10000 << "Not a WinSock error ?";
    QTest::newRow("gap 10005") << 10005 << "Not a WinSock error ?";
    QTest::newRow("11005") << 11005 << "Not a WinSock error ?";
}

void TestSocketErrors::texts()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(SocketErrorText(code), text);
}

// The table has exactly 50 entries: every code outside it reads the default.
void TestSocketErrors::everyOtherCodeIsTheDefault()
{
    int known = 0;
    for (int code = 9990; code <= 11100; ++code) {
        if (SocketErrorText(code) != QLatin1String("Not a WinSock error ?"))
            ++known;
    }
    QCOMPARE(known, 50);
    for (int code = 10072; code < 10091; ++code)
        QCOMPARE(SocketErrorText(code), QStringLiteral("Not a WinSock error ?"));
    for (int code = 10094; code < 11001; ++code)
        QCOMPARE(SocketErrorText(code), QStringLiteral("Not a WinSock error ?"));
}

void TestSocketErrors::nativeErrors_data()
{
    QTest::addColumn<int>("err");
    QTest::addColumn<int>("code");
    QTest::newRow("refused") << ECONNREFUSED << 10061;
    QTest::newRow("timed out") << ETIMEDOUT << 10060;
    QTest::newRow("reset") << ECONNRESET << 10054;
    QTest::newRow("aborted") << ECONNABORTED << 10053;
    QTest::newRow("would block") << EAGAIN << 10035;
    QTest::newRow("bad descriptor") << EBADF << 10038;
    QTest::newRow("not a socket") << ENOTSOCK << 10038;
    QTest::newRow("fault") << EFAULT << 10014;
    QTest::newRow("not connected") << ENOTCONN << 10057;
    QTest::newRow("too many files") << EMFILE << 10024;
    QTest::newRow("unreachable") << EHOSTUNREACH << 10065;
}

void TestSocketErrors::nativeErrors()
{
    QFETCH(int, err);
    QFETCH(int, code);
    QCOMPARE(wsaErrorFromErrno(err), code);
}

QTEST_APPLESS_MAIN(TestSocketErrors)
#include "tst_socketerrors.moc"
