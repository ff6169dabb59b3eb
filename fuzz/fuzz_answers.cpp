// Whatever an inverter sends goes through the real window: a loopback peer
// writes the fuzzer's bytes to TCP1, and the monitor reads, classifies,
// decodes and shows them, sums the totals and composes panel messages.
//
// Input: byte 0 chooses the request made first (bits 0-1: none, daily energy,
// total energy, total power) and whether the bytes come in two writes
// (bit 2, split at byte 1); the rest is what the inverter sends.
#include "app/tform2.h"
#include "net/simpletcp.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
QApplication *app;
TForm2 *form;
int listener = -1;
int peer = -1;

void pump(int rounds)
{
    for (int i = 0; i < rounds; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
}

void drainPeer()
{
    char buf[4096];
    while (::recv(peer, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
}

void ensureConnected()
{
    for (int tries = 0; tries < 2000 && !(form->TCP(1)->Connected() && peer >= 0); ++tries) {
        if (peer < 0)
            peer = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
        pump(1);
        ::usleep(500);
    }
    if (!form->TCP(1)->Connected())
        std::abort();
}

void writeAll(const uint8_t *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(peer, data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            pump(1);
            continue;
        }
        data += n;
        size -= size_t(n);
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    app = new QApplication(*argc, *argv);

    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(listener, 4) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        std::abort();

    static QTemporaryDir dir;
    QFile ini(dir.filePath(QStringLiteral("param.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write(QStringLiteral("[Hosts]\nHost1IP=127.0.0.1\nHost1Port=%1\n"
                             "Host2IP=Null\nHost3IP=Null\nHost4IP=Null\nHost5IP=Null\nHost6IP=Null\n"
                             "[Panel]\nPanelIP=Null\n")
                      .arg(ntohs(a.sin_port))
                      .toLatin1());
    ini.close();

    Durations d;
    d.connectTimerInterval = 5;
    d.totalPowerPause = 0;
    d.pressPause = 0;
    d.panelPause = 0;
    d.receiveStall = 1;
    form = new TForm2(ini.fileName(), d);
    form->show();
    ensureConnected();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    ensureConnected();
    const uint8_t control = data[0];
    switch (control & 3) {
    case 1: form->SBDClick(1); break;
    case 2: form->SBTClick(1); break;
    case 3: form->SBPClick(1); break;
    default: break;
    }
    const uint8_t *bytes = data + 1;
    const size_t count = size - 1;
    if ((control & 4) && count > 1) {
        const size_t cut = 1 + bytes[0] % (count - 1);
        writeAll(bytes, cut);
        pump(2);
        writeAll(bytes + cut, count - cut);
    } else {
        writeAll(bytes, count);
    }
    // Until the monitor has taken everything off its link.
    for (int i = 0; i < 200; ++i) {
        pump(1);
        int waiting = 0;
        const int s = form->TCP(1)->SocketHandle();
        if (s < 0 || (::ioctl(s, FIONREAD, &waiting) == 0 && waiting == 0))
            break;
    }
    drainPeer();
    return 0;
}
