// brelvon-sim: the simulated PV plant (six inverters and an LED panel on
// 127.0.0.1). See simHelpText() for the command line.

#include "simoptions.h"
#include "simplant.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalFds[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalFds[1], &byte, 1);
    errno = saved;
}

void printLine(FILE *to, const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
    std::fputc('\n', to);
    std::fflush(to);
}

// Signals arrive as a byte on a socket pair, so that quitting happens in the
// event loop and not inside the signal handler.
bool installSignalBridge()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalFds) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    return true;
}
} // namespace

int main(int argc, char **argv)
{
    // End with the process that started us (a demo script, the monitor):
    // the kernel sends SIGTERM, which the bridge below turns into a clean
    // exit. The parent is looked at again afterwards in case it ended before
    // the request was in place.
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        return 0;
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    const SimOptionsResult parsed = parseSimOptions(app.arguments());
    if (parsed.helpRequested) {
        printLine(stdout, simHelpText());
        return 0;
    }
    if (!parsed.options) {
        printLine(stderr, QStringLiteral("brelvon-sim: %1 (see --help)").arg(parsed.error));
        return 2;
    }
    const SimOptions &options = *parsed.options;

    if (!installSignalBridge()) {
        printLine(stderr, QStringLiteral("brelvon-sim: cannot set up signal handling"));
        return 1;
    }
    QSocketNotifier signalNotifier(signalFds[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char buf[16];
        while (::read(signalFds[0], buf, sizeof buf) > 0) {
        }
        QCoreApplication::quit();
    });

    SimPlant plant(options);
    QObject::connect(&plant, &SimPlant::panelLine, [](const QString &line) { printLine(stdout, line); });
    if (!options.quiet) {
        QObject::connect(&plant, &SimPlant::activity, [](const QString &line) { printLine(stdout, line); });
        QObject::connect(&plant, &SimPlant::clockTick, [](const QString &line) { printLine(stdout, line); });
    }
    if (options.verbose)
        QObject::connect(&plant, &SimPlant::request, [](const QString &line) { printLine(stdout, line); });

    QString error;
    if (!plant.start(&error)) {
        printLine(stderr, QStringLiteral("brelvon-sim: %1").arg(error));
        return 1;
    }
    printLine(stdout, QStringLiteral("brelvon-sim: one simulated day in %1 s, starting at %2:%3")
                          .arg(options.dayLength)
                          .arg(int(options.startHour), 2, 10, QLatin1Char('0'))
                          .arg(int(options.startHour * 60) % 60, 2, 10, QLatin1Char('0')));
    printLine(stdout, plant.portTable().trimmed());
    if (!options.iniPath.isEmpty()) {
        if (!plant.writeIni(options.iniPath, &error)) {
            printLine(stderr, QStringLiteral("brelvon-sim: %1").arg(error));
            return 1;
        }
        printLine(stdout, QStringLiteral("brelvon-sim: wrote %1").arg(options.iniPath));
    }

    std::unique_ptr<QSocketNotifier> stdinNotifier;
    if (options.exitWithStdin) {
        stdinNotifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(stdinNotifier.get(), &QSocketNotifier::activated, &app, [&stdinNotifier] {
            char buf[4096];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                stdinNotifier->setEnabled(false);
                QCoreApplication::quit();
            }
        });
    }

    const int rc = app.exec();
    printLine(stdout, QStringLiteral("brelvon-sim: stopped"));
    return rc;
}
