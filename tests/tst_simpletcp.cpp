#include "net/simpletcp.h"
#include "faultpeers.h"
#include "testpeer.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Records every event of a link as one line, in order.
struct Recorder {
    QStringList events;
    QList<int> dataSizes;
    QByteArray readStream;
    std::function<void(TSimpleTCPClient *, int)> onData;

    void attach(TSimpleTCPClient &link, bool withData = true)
    {
        link.OnConnected = [this](TSimpleTCPClient *) { events << "connected"; };
        link.OnDisconnected = [this](TSimpleTCPClient *) { events << "disconnected"; };
        link.OnError = [this](TCustomSimpleSocket *, int socket, int code, const QString &text) {
            events << QStringLiteral("error:%1:%2%3").arg(code).arg(text, socket == -1 ? ":nosocket" : "");
        };
        if (withData) {
            link.OnDataAvailable = [this](TSimpleTCPClient *l, int size) {
                dataSizes << size;
                if (onData)
                    onData(l, size);
                else
                    l->DiscardBytes(size, true);
            };
        }
        link.OnRead = [this](TSimpleTCPClient *, QIODevice &stream) {
            events << "read";
            QCOMPARE(stream.pos(), 0);
            readStream += stream.readAll();
        };
    }
};

Durations fast()
{
    Durations d;
    d.connectTimeout = 400;
    d.receiveStall = 30;
    d.reconnectGuard = 1500;
    return d;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

void setUp(TSimpleTCPClient &link, quint16 port, const QString &host = QStringLiteral("127.0.0.1"))
{
    link.AssignHost(host);
    link.AssignPort(port);
}

// A link with every event recorded, connected to a live peer.
struct LiveLink {
    TestPeer peer;
    TSimpleTCPClient link{nullptr, fast()};
    Recorder r;

    bool open(bool withData = true)
    {
        r.attach(link, withData);
        setUp(link, peer.port());
        link.AssignConnected(true);
        return QTest::qWaitFor([this] { return link.Connected() && peer.hasClient(); }, 5000);
    }
};

// A link aimed at a listener that never completes an attempt.
struct PendingLink {
    StuckListener stuck;
    TSimpleTCPClient link{nullptr, fast()};
    Recorder r;
    PendingLink()
    {
        r.attach(link);
        setUp(link, stuck.port);
    }
};

} // namespace

class TestSimpleTcp : public QObject {
    Q_OBJECT
private slots:
    void connectsAndSends();
    void refused();
    void gracefulCloseReconnectsOnce();
    void resetByPeer();
    void unresolvableHost_data();
    void unresolvableHost();
    void hostNameLookedUpOffTheWindowThread();
    void disconnectWhileConnecting();
    void assignSameValueDoesNothing();
    void sendWhileConnecting();
    void connectTimesOut();
    void sendOnIdleLink();
    void partialReadCalledAgain();
    void onReadGetsEverything();
    void waitingReceiveEndsWhenPeerStops();
    void discardConsumesLargeCounts();
    void hostAndPortWhileConnected();
    void noHandlerRaisesException();
    void exceptionInNotificationGoesToHandler();
    void destroyConnectedLinkIsSilent();
    void descriptorReuseAfterNestedError();
    void noDescriptorLeak();
};

void TestSimpleTcp::connectsAndSends()
{
    TestPeer peer;
    TSimpleTCPClient link(nullptr, fast());
    Recorder r;
    r.attach(link);
    setUp(link, peer.port());
    link.AssignConnected(true);
    QVERIFY(link.ConnectRequested());
    QVERIFY(!link.Connected());
    QTRY_COMPARE(r.events, QStringList{"connected"});
    QVERIFY(link.Connected());
    const char frame[8] = {'\x62', '\xff', 3, '\xff', 0, '\x57', '\x46', 0};
    QCOMPARE(link.SendBytes(frame, 8), 8);
    QTRY_COMPARE(peer.received(), QByteArray(frame, 8));
    peer.send("hello");
    QTRY_COMPARE(r.dataSizes, QList<int>{5});
    link.AssignConnected(false);
    QCOMPARE(r.events, (QStringList{"connected", "disconnected"}));
    QCOMPARE(link.SocketHandle(), -1);
}

void TestSimpleTcp::refused()
{
    TSimpleTCPClient link(nullptr, fast());
    link.AutoTryReconnect = true;
    Recorder r;
    r.attach(link);
    setUp(link, closedPort());
    link.AssignConnected(true);
    QTRY_COMPARE(r.events, (QStringList{"disconnected", "error:10061:Connection refused"}));
    QTest::qWait(100);
    QCOMPARE(r.events.size(), 2); // no attempt of its own
    QVERIFY(!link.ConnectRequested());
    QCOMPARE(link.SocketHandle(), -1);
}

void TestSimpleTcp::gracefulCloseReconnectsOnce()
{
    LiveLink l;
    TestPeer &peer = l.peer;
    TSimpleTCPClient &link = l.link;
    Recorder &r = l.r;
    link.AutoTryReconnect = true;
    QVERIFY(l.open());

    peer.closeGracefully();
    QTRY_COMPARE(r.events, (QStringList{"connected", "disconnected", "disconnected", "connected"}));
    QCOMPARE(peer.accepted(), 2);

    // A second graceful close within the guard period leaves the next attempt
    // to the application: no reconnect storm.
    QTRY_VERIFY(peer.hasClient());
    peer.closeGracefully();
    QTRY_COMPARE(r.events.size(), 6);
    QTest::qWait(300);
    QCOMPARE(r.events.mid(4), (QStringList{"disconnected", "disconnected"}));
    QVERIFY(!link.ConnectRequested());
    QCOMPARE(peer.accepted(), 2);

    // After the guard period the immediate reconnect is allowed again.
    QTest::qWait(fast().reconnectGuard);
    link.AssignConnected(true);
    QTRY_VERIFY(peer.hasClient());
    QTRY_VERIFY(link.Connected());
    peer.closeGracefully();
    QTRY_COMPARE(peer.accepted(), 4);
}

void TestSimpleTcp::resetByPeer()
{
    LiveLink l;
    l.link.AutoTryReconnect = true;
    QVERIFY(l.open());
    l.peer.reset();
    QTRY_COMPARE(l.r.events, (QStringList{"connected", "disconnected", "error:10054:Connection reset by peer"}));
    QTest::qWait(100);
    QCOMPARE(l.r.events.size(), 3);
    QCOMPARE(l.peer.accepted(), 1);
}

void TestSimpleTcp::unresolvableHost_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("default text") << "Error reading inifile";
    QTest::newRow("empty") << "";
    QTest::newRow("bad characters") << "inverter#1";
    QTest::newRow("empty label") << "a..b";
    QTest::newRow("too long") << QString(254, QChar('a'));
}

void TestSimpleTcp::unresolvableHost()
{
    QFETCH(QString, host);
    TSimpleTCPClient link(nullptr, fast());
    Recorder r;
    r.attach(link);
    link.AssignHost(host);
    link.AssignPort(80);
    link.AssignConnected(true);
    QCOMPARE(r.events, (QStringList{"error:10038:Socket operation on non-socket:nosocket",
                                    "error:10014:Bad address:nosocket"}));
    QVERIFY(!link.ConnectRequested());
    QVERIFY(!link.Connected());
    link.AssignConnected(true); // tried again, same outcome
    QCOMPARE(r.events.size(), 4);
}

// "localhost" comes from /etc/hosts: no name server is asked.
void TestSimpleTcp::hostNameLookedUpOffTheWindowThread()
{
    TestPeer peer;
    TSimpleTCPClient link(nullptr, fast());
    Recorder r;
    r.attach(link);
    setUp(link, peer.port(), QStringLiteral("localhost"));
    link.AssignConnected(true);
    QVERIFY(r.events.isEmpty()); // the outcome comes later, as events
    QVERIFY(link.ConnectRequested());
    QTRY_COMPARE(r.events, QStringList{"connected"});

    // A lookup given up before its answer is dropped without a word.
    link.AssignConnected(false);
    r.events.clear();
    link.AssignConnected(true);
    link.AssignConnected(false);
    QTest::qWait(200);
    QVERIFY(r.events.isEmpty());
    QCOMPARE(peer.accepted(), 1);
    // So is one whose link was given another host meanwhile; the next
    // attempt goes to the new one.
    link.AssignConnected(true);
    link.AssignHost(QStringLiteral("127.0.0.1"));
    QVERIFY(!link.ConnectRequested());
    QTest::qWait(200);
    QVERIFY(r.events.isEmpty());
    link.AssignConnected(true);
    QTRY_COMPARE(r.events, QStringList{"connected"});
    QTRY_COMPARE(peer.accepted(), 2);
}

void TestSimpleTcp::disconnectWhileConnecting()
{
    PendingLink p;
    TSimpleTCPClient &link = p.link;
    Recorder &r = p.r;
    link.AssignConnected(true);
    QTest::qWait(50);
    QVERIFY(r.events.isEmpty());
    link.AssignConnected(false);
    QCOMPARE(r.events, QStringList{"disconnected"});
    QTest::qWait(fast().connectTimeout + 100); // the time-out was cancelled with the attempt
    QCOMPARE(r.events, QStringList{"disconnected"});
}

void TestSimpleTcp::assignSameValueDoesNothing()
{
    TestPeer peer;
    TSimpleTCPClient link(nullptr, fast());
    Recorder r;
    r.attach(link);
    link.AssignConnected(false); // idle: nothing
    QVERIFY(r.events.isEmpty());
    setUp(link, peer.port());
    link.AssignConnected(true);
    link.AssignConnected(true); // under way: nothing
    QTRY_VERIFY(link.Connected());
    link.AssignConnected(true); // connected: nothing
    QTest::qWait(50);
    QCOMPARE(peer.accepted(), 1);
    QCOMPARE(r.events, QStringList{"connected"});
}

void TestSimpleTcp::sendWhileConnecting()
{
    PendingLink p;
    TSimpleTCPClient &link = p.link;
    Recorder &r = p.r;
    link.AssignConnected(true);
    QTest::qWait(30);
    QCOMPARE(link.SendBytes("12345678", 8), -1);
    QCOMPARE(r.events, (QStringList{"disconnected", "error:10057:Socket is not connected"}));
}

void TestSimpleTcp::connectTimesOut()
{
    PendingLink p;
    TSimpleTCPClient &link = p.link;
    Recorder &r = p.r;
    QElapsedTimer t;
    t.start();
    link.AssignConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(r.events, (QStringList{"disconnected", "error:10060:Connection timed out"}), 3000);
    QVERIFY(t.elapsed() >= fast().connectTimeout - 5);
    QVERIFY(!link.ConnectRequested());
}

void TestSimpleTcp::sendOnIdleLink()
{
    TSimpleTCPClient link(nullptr, fast());
    Recorder r;
    r.attach(link);
    QCOMPARE(link.SendBytes("x", 1), 0);
    QCOMPARE(link.SendBytes("x", 0), 0);
    QVERIFY(r.events.isEmpty());
}

// A handler that reads part of the bytes is called again with the rest.
void TestSimpleTcp::partialReadCalledAgain()
{
    LiveLink l;
    QByteArray got;
    l.r.onData = [&](TSimpleTCPClient *link, int size) {
        char buf[4];
        const int n = link->ReceiveBytes(buf, std::min(size, 4), true);
        got += QByteArray(buf, n);
    };
    QVERIFY(l.open());
    l.peer.send("abcdefghij");
    QTRY_COMPARE(got, QByteArray("abcdefghij"));
    QCOMPARE(l.r.dataSizes, (QList<int>{10, 6, 2}));
}

void TestSimpleTcp::onReadGetsEverything()
{
    LiveLink l;
    TestPeer &peer = l.peer;
    Recorder &r = l.r;
    QVERIFY(l.open(false));
    peer.send(QByteArray(3000, 'x'));
    QTRY_COMPARE(r.readStream.size(), 3000);
    QVERIFY(r.events.count("read") >= 1);

    // A flood is drained in bounded pieces; nothing is lost, the loop returns.
    r.readStream.clear();
    peer.send(QByteArray(1 << 20, 'y'));
    QTRY_COMPARE(r.readStream.size(), 1 << 20);
    QVERIFY(r.events.count("read") > 1);
}

void TestSimpleTcp::waitingReceiveEndsWhenPeerStops()
{
    LiveLink l;
    int result = 0;
    qint64 took = 0;
    l.r.onData = [&](TSimpleTCPClient *link, int) {
        char buf[100];
        QElapsedTimer t;
        t.start();
        result = link->ReceiveBytes(buf, 73, true); // more than will ever come
        took = t.elapsed();
    };
    QVERIFY(l.open());
    l.peer.send(QByteArray(15, 'z'));
    QTRY_COMPARE(result, 15);
    QVERIFY(took >= fast().receiveStall - 5);
    QVERIFY(took < 1000);
}

void TestSimpleTcp::discardConsumesLargeCounts()
{
    LiveLink l;
    int total = 0;
    l.r.onData = [&](TSimpleTCPClient *link, int size) { total += link->DiscardBytes(size, true); };
    QVERIFY(l.open());
    l.peer.send(QByteArray(200000, 'g'));
    QTRY_COMPARE(total, 200000);
    QVERIFY(l.link.Connected());
}

void TestSimpleTcp::hostAndPortWhileConnected()
{
    LiveLink l;
    TestPeer &peer = l.peer, other;
    TSimpleTCPClient &link = l.link;
    Recorder &r = l.r;
    QVERIFY(l.open());

    link.AssignPort(peer.port()); // same value: nothing
    link.AssignHost(QStringLiteral("127.0.0.1"));
    try {
        link.AssignPort(other.port());
        QFAIL("no exception");
    } catch (const ESocketError &e) {
        QCOMPARE(e.message(), QStringLiteral("Can not change Port while connected"));
    }
    try {
        link.AssignHost(QStringLiteral("127.0.0.2"));
        QFAIL("no exception");
    } catch (const ESocketError &e) {
        QCOMPARE(e.message(), QStringLiteral("Can not change Host while connected"));
    }
    QCOMPARE(link.Port(), peer.port());
    QVERIFY(link.Connected());

    link.AllowChangeHostAndPortOnConnection = true;
    link.AssignPort(other.port());
    QCOMPARE(r.events, (QStringList{"connected", "disconnected"}));
    QTRY_COMPARE(other.accepted(), 1);
    QTRY_VERIFY(link.Connected());
}

void TestSimpleTcp::noHandlerRaisesException()
{
    TSimpleTCPClient link(nullptr, fast());
    link.AssignHost(QStringLiteral("not a host"));
    try {
        link.AssignConnected(true);
        QFAIL("no exception");
    } catch (const ESocketError &e) {
        // The missing socket's close fails first and ends the path.
        QCOMPARE(e.message(), QStringLiteral("Socket operation on non-socket"));
    }
    QVERIFY(!link.ConnectRequested());
}

void TestSimpleTcp::exceptionInNotificationGoesToHandler()
{
    QStringList shown;
    setApplicationExceptionHandler([&](const QString &m) { shown << m; });
    TSimpleTCPClient link(nullptr, fast());
    bool disconnected = false;
    link.OnDisconnected = [&](TSimpleTCPClient *) { disconnected = true; };
    setUp(link, closedPort());
    link.AssignConnected(true);
    QTRY_COMPARE(shown, QStringList{"Connection refused"});
    QVERIFY(disconnected); // the link was already closed when the message came
    QVERIFY(!link.ConnectRequested());
    setApplicationExceptionHandler({});
}

void TestSimpleTcp::destroyConnectedLinkIsSilent()
{
    TestPeer peer; // outlives the link
    Recorder r;
    {
        TSimpleTCPClient link(nullptr, fast());
        r.attach(link);
        setUp(link, peer.port());
        link.AssignConnected(true);
        QTRY_VERIFY(link.Connected() && peer.hasClient());
    }
    QCOMPARE(r.events, QStringList{"connected"});
    QTRY_VERIFY(!peer.hasClient());
}

// Link A's data handler lets events run; meanwhile A's connection is reset
// (its socket closed by the error path) and link B opens a socket, which the
// kernel may give A's old number. A's read loop must not read B's bytes.
void TestSimpleTcp::descriptorReuseAfterNestedError()
{
    TestPeer peerA, peerB;
    TSimpleTCPClient a(nullptr, fast()), b(nullptr, fast());
    Recorder ra, rb;
    int oldSocket = -1;
    bool reused = false;
    ra.onData = [&](TSimpleTCPClient *l, int size) {
        char buf[16];
        l->ReceiveBytes(buf, std::min(size, 16), true);
        if (oldSocket != -1)
            return;
        oldSocket = l->SocketHandle();
        peerA.reset();
        QTRY_VERIFY(!l->ConnectRequested()); // nested: A's reset was handled
        b.AssignConnected(true);             // B likely gets A's old number
        QTRY_VERIFY(b.Connected());
        reused = b.SocketHandle() == oldSocket;
        QTRY_VERIFY(peerB.hasClient());
        peerB.send("BBBB");
        QTest::qWait(50); // B's bytes wait on the reused number
    };
    ra.attach(a);
    rb.onData = [&](TSimpleTCPClient *l, int size) {
        char buf[16];
        l->ReceiveBytes(buf, std::min(size, 16), true);
    };
    rb.attach(b);
    setUp(a, peerA.port());
    setUp(b, peerB.port());
    a.AssignConnected(true);
    QTRY_VERIFY(a.Connected());
    QTRY_VERIFY(peerA.hasClient());
    peerA.send("AAAA");  // 4 bytes; A's handler reads them and then nests
    peerA.send("aaaa");
    QTRY_VERIFY(oldSocket != -1);
    QTRY_COMPARE(rb.dataSizes, QList<int>{4});
    QCOMPARE(ra.dataSizes.size(), 1); // A never saw B's bytes
    QVERIFY(ra.events.contains("error:10054:Connection reset by peer"));
    QCOMPARE(ra.events.last(), QStringLiteral("error:10038:Socket operation on non-socket"));
    QVERIFY(b.Connected()); // A's stale loop did not disturb B
    QVERIFY2(reused, "the kernel did not hand A's number to B: the case was not exercised");
}

void TestSimpleTcp::noDescriptorLeak()
{
    TestPeer peer;
    const quint16 refused = closedPort();
    const int before = openDescriptors();
    TSimpleTCPClient link(nullptr, fast());
    Recorder r;
    r.attach(link);
    for (int i = 0; i < 50; ++i) {
        setUp(link, peer.port());
        link.AssignConnected(true);
        QTRY_VERIFY(link.Connected());
        link.AssignConnected(false);
        setUp(link, refused);
        link.AssignConnected(true);
        QTRY_VERIFY(!link.ConnectRequested());
    }
    QTRY_COMPARE(openDescriptors(), before);
}

QTEST_GUILESS_MAIN(TestSimpleTcp)
#include "tst_simpletcp.moc"
