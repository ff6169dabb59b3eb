#pragma once
// The monitor side of the benchmark: the window run in a process of its own
// (so that its CPU, memory and descriptors are its alone), with the probe
// timer, event counters and readings. Results go to stdout as key=value words.

#include "app/fonts.h"
#include "app/tform2.h"
#include "net/simpletcp.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPlainTextEdit>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <time.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

// Runs the event loop for ms milliseconds (never sleeps the thread).
inline void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Percentiles {
    int count = 0;
    double p50 = 0, p99 = 0, max = 0;
    int over5 = 0, over16 = 0;
};

// Nearest-rank percentiles of lateness samples in milliseconds.
inline Percentiles percentiles(std::vector<double> v)
{
    Percentiles p;
    p.count = int(v.size());
    if (v.empty())
        return p;
    std::sort(v.begin(), v.end());
    auto rank = [&](double q) { return v[std::max<size_t>(1, size_t(std::ceil(q * v.size()))) - 1]; };
    p.p50 = rank(0.50);
    p.p99 = rank(0.99);
    p.max = v.back();
    p.over5 = int(std::count_if(v.begin(), v.end(), [](double x) { return x > 5.0; }));
    p.over16 = int(std::count_if(v.begin(), v.end(), [](double x) { return x > 16.0; }));
    return p;
}

inline qint64 threadCpuNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Nanoseconds this thread has spent runnable but waiting for a core
// (the scheduler's run-queue delay), or -1 when the kernel does not say.
class RunQueueDelay {
public:
    RunQueueDelay() : m_fd(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC)) {}
    ~RunQueueDelay()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    qint64 now() const
    {
        char buf[128];
        const ssize_t n = m_fd < 0 ? -1 : ::pread(m_fd, buf, sizeof buf - 1, 0);
        if (n <= 0)
            return -1;
        buf[n] = 0;
        long long cpu = 0, wait = 0;
        return std::sscanf(buf, "%lld %lld", &cpu, &wait) == 2 ? wait : -1;
    }

private:
    int m_fd;
};

// A 10 ms precise single-shot timer, armed again at each expiry: each sample
// is how much later than asked it ran, so one long block gives one large
// sample rather than a burst of catch-up ticks. Beside it, the same lateness
// capped at the CPU time the thread used since arming: the part of the
// lateness the monitor's own work can account for (on a busy machine the
// rest is waiting for a core or blocked). Late samples (over 5 ms) of which
// the thread spent at least half the lateness queued for a core are counted
// apart: they say more about the machine than about the monitor.
class LatencyProbe {
public:
    explicit LatencyProbe(int periodMs) : m_periodNs(qint64(periodMs) * 1000000)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_recording) {
                const qint64 late = std::max<qint64>(0, now - m_armedNs - m_periodNs);
                const qint64 cpu = threadCpuNs() - m_armedCpuNs;
                m_samples.push_back(late / 1e6);
                m_ownSamples.push_back(std::min(late, cpu) / 1e6);
                const qint64 queued = m_runQueue.now() - m_armedQueuedNs;
                if (late > 5000000 && m_armedQueuedNs >= 0 && queued * 2 >= late)
                    ++m_lateQueued;
            }
            arm();
        });
        m_clock.start();
        m_samples.reserve(1 << 16);
        m_ownSamples.reserve(1 << 16);
        arm();
    }
    void setRecording(bool on)
    {
        if (on && !m_recording)
            arm(); // the tick pending now was armed while not recording
        m_recording = on;
    }
    const std::vector<double> &samples() const { return m_samples; }
    const std::vector<double> &ownSamples() const { return m_ownSamples; }
    int lateQueued() const { return m_lateQueued; }

private:
    void arm()
    {
        m_armedNs = m_clock.nsecsElapsed();
        m_armedCpuNs = threadCpuNs();
        m_armedQueuedNs = m_runQueue.now();
        m_timer.start(int(m_periodNs / 1000000));
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_periodNs;
    qint64 m_armedNs = 0;
    qint64 m_armedCpuNs = 0;
    RunQueueDelay m_runQueue;
    qint64 m_armedQueuedNs = -1;
    int m_lateQueued = 0;
    bool m_recording = false;
    std::vector<double> m_samples, m_ownSamples;
};

// What the seven links reported, counted on top of the window's own handlers.
struct LinkCounters {
    int connected = 0, disconnected = 0, errors = 0, dataEvents = 0;
    qint64 dataBytes = 0;
    // Sockets that went down, per link (0 = panel): a graceful close raises
    // OnDisconnected twice in a row, counted here once.
    std::array<int, 7> downPerSlot{};
    std::array<bool, 7> lastWasDown{};
    bool paused = false;

    int cycles() const
    {
        int n = 0;
        for (int slot = 1; slot <= 6; ++slot)
            n += downPerSlot[slot];
        return n;
    }

    void attach(TForm2 &form)
    {
        for (int slot = 0; slot <= 6; ++slot) {
            TSimpleTCPClient *link = slot == 0 ? form.TcpPanel() : form.TCP(slot);
            auto onConnected = link->OnConnected;
            link->OnConnected = [this, onConnected, slot](TSimpleTCPClient *s) {
                ++connected;
                lastWasDown[slot] = false;
                if (onConnected)
                    onConnected(s);
            };
            auto onDisconnected = link->OnDisconnected;
            link->OnDisconnected = [this, onDisconnected, slot](TSimpleTCPClient *s) {
                if (!paused) {
                    ++disconnected;
                    if (!lastWasDown[slot])
                        ++downPerSlot[slot];
                }
                lastWasDown[slot] = true;
                if (onDisconnected)
                    onDisconnected(s);
            };
            auto onError = link->OnError;
            link->OnError = [this, onError, slot](TCustomSimpleSocket *s, int socket, int code,
                                                  const QString &text) {
                ++errors;
                lastWasDown[slot] = false;
                if (onError)
                    onError(s, socket, code, text);
            };
            auto onData = link->OnDataAvailable;
            if (onData) {
                link->OnDataAvailable = [this, onData](TSimpleTCPClient *s, int size) {
                    ++dataEvents;
                    dataBytes += size;
                    onData(s, size);
                };
            }
        }
    }

    QString words() const
    {
        int closes = 0;
        for (int n : downPerSlot)
            closes += n;
        return QStringLiteral("connected=%1 disconnected=%2 closes=%3 errors=%4 data_events=%5 data_bytes=%6")
            .arg(connected)
            .arg(disconnected)
            .arg(closes)
            .arg(errors)
            .arg(dataEvents)
            .arg(dataBytes);
    }
};

inline void emitLine(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

inline qint64 residentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Open descriptors, not counting the one that lists them.
inline int openDescriptors()
{
    DIR *d = ::opendir("/proc/self/fd");
    if (!d)
        return -1;
    int n = 0;
    while (const dirent *e = ::readdir(d)) {
        if (e->d_name[0] != '.')
            ++n;
    }
    ::closedir(d);
    return n - 1;
}

// Takes every descriptor the process may still open (the soft limit lowered
// to keep the count small) and keeps them to the end of the process.
inline int exhaustDescriptors()
{
    rlimit r{};
    ::getrlimit(RLIMIT_NOFILE, &r);
    r.rlim_cur = std::min<rlim_t>(r.rlim_cur, 512);
    ::setrlimit(RLIMIT_NOFILE, &r);
    int taken = 0;
    while (::open("/dev/null", O_RDONLY | O_CLOEXEC) >= 0)
        ++taken;
    return taken;
}

// Keeps the process out of descriptors: whenever a link lets go of its
// socket, something else takes the number before the link can reconnect.
inline void stealFreedDescriptors(TForm2 &form)
{
    for (int slot = 0; slot <= 6; ++slot) {
        TSimpleTCPClient *link = slot == 0 ? form.TcpPanel() : form.TCP(slot);
        auto onDisconnected = link->OnDisconnected;
        link->OnDisconnected = [onDisconnected](TSimpleTCPClient *s) {
            while (::open("/dev/null", O_RDONLY | O_CLOEXEC) >= 0) {
            }
            if (onDisconnected)
                onDisconnected(s);
        };
    }
}

inline double cpuMs(const rusage &r)
{
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000.0 + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000.0;
}

struct ChildOptions {
    QString mode;           // latency, cpu, soak
    QString ini;
    int windowMs = 0;       // latency: 0 = one whole Auto-Read cycle; cpu: the measured time
    bool exhaustFds = false;
    int cycles = 10000;     // soak
    int warmup = 500;       // soak cycles before the baseline reading
};

// Durations of the compressed soak: every wait shortened so that the links
// fail and reconnect thousands of times a minute.
inline Durations soakDurations()
{
    Durations d;
    d.connectTimerInterval = 2;
    d.pollTimerInterval = 20;
    d.totalPowerPause = 2;
    d.pressPause = 1;
    d.panelPause = 1;
    d.connectTimeout = 20;
    d.receiveStall = 5;
    d.reconnectGuard = 1;
    return d;
}

inline void prepareApplication()
{
    QApplication::setStyle(QStringLiteral("Fusion"));
    installMonitorFonts();
    setApplicationExceptionHandler([](const QString &) {}); // already on stderr
}

// Latency and CPU: the window with the product durations, the first connection
// attempt made at once instead of 10 s after start, then "Auto-Read" ticked.
// Latency: a cycle is started at once (as Timer1's tick would) and the probe
// runs from the connection attempt to the end of the cycle, or for windowMs.
// CPU: Timer1 runs as in the product (first cycle 10 s after the tick) and
// the process's own user + system time over windowMs is reported.
inline int runMonitorLatencyOrCpu(const ChildOptions &o)
{
    const bool latency = o.mode == QLatin1String("latency");
    TForm2 form(o.ini, Durations::product());
    LinkCounters counters;
    counters.attach(form);
    form.show();
    waitMs(300);

    std::unique_ptr<LatencyProbe> probe;
    if (latency) {
        probe = std::make_unique<LatencyProbe>(10);
        probe->setRecording(true);
    }
    QElapsedTimer wall;
    wall.start();
    rusage r0{};
    ::getrusage(RUSAGE_SELF, &r0);

    form.Timer2Timer(); // Timer2's first tick, early
    waitMs(latency ? 300 : 1000);
    int exhausted = 0;
    if (o.exhaustFds) { // the benchmark's own work, not the monitor's: not timed
        if (probe)
            probe->setRecording(false);
        exhausted = exhaustDescriptors();
        stealFreedDescriptors(form);
        if (probe)
            probe->setRecording(true);
    }
    if (!latency) { // CPU is measured from the tick of "Auto-Read" on
        ::getrusage(RUSAGE_SELF, &r0);
        wall.restart();
    }
    form.widgets().CB1->setChecked(true); // QuietLog on, Timer1 running

    bool finished = false;
    qint64 cycleMs = -1;
    auto finish = [&] {
        if (finished)
            return;
        finished = true;
        rusage r1{};
        ::getrusage(RUSAGE_SELF, &r1);
        const qint64 wallMs = wall.elapsed();
        if (probe) {
            probe->setRecording(false);
            const Percentiles p = percentiles(probe->samples());
            const Percentiles own = percentiles(probe->ownSamples());
            emitLine(QStringLiteral("samples=%1 p50=%2 p99=%3 max=%4 over5=%5 over16=%6 own_p99=%7 own_max=%8 over5_queued=%9")
                         .arg(p.count)
                         .arg(p.p50, 0, 'f', 3)
                         .arg(p.p99, 0, 'f', 3)
                         .arg(p.max, 0, 'f', 3)
                         .arg(p.over5)
                         .arg(p.over16)
                         .arg(own.p99, 0, 'f', 3)
                         .arg(own.max, 0, 'f', 3)
                         .arg(probe->lateQueued()));
        }
        emitLine(QStringLiteral("cpu_ms=%1 user_ms=%2 sys_ms=%3 wall_ms=%4 cycle_ms=%5 exhausted_fds=%6")
                     .arg(cpuMs(r1) - cpuMs(r0), 0, 'f', 1)
                     .arg((r1.ru_utime.tv_sec - r0.ru_utime.tv_sec) * 1000.0
                              + (r1.ru_utime.tv_usec - r0.ru_utime.tv_usec) / 1000.0,
                          0, 'f', 1)
                     .arg((r1.ru_stime.tv_sec - r0.ru_stime.tv_sec) * 1000.0
                              + (r1.ru_stime.tv_usec - r0.ru_stime.tv_usec) / 1000.0,
                          0, 'f', 1)
                     .arg(wallMs)
                     .arg(cycleMs)
                     .arg(exhausted));
        emitLine(counters.words());
        form.close(); // a cycle still running runs through at once
        QCoreApplication::quit();
    };

    const bool wholeCycle = latency && o.windowMs <= 0;
    if (latency) {
        // What Timer1's tick does, without waiting the first 10 s.
        QTimer::singleShot(0, &form, [&] {
            QElapsedTimer c;
            c.start();
            form.Timer1Timer();
            if (!finished)
                cycleMs = c.elapsed();
            if (wholeCycle)
                finish();
        });
    }
    if (!wholeCycle)
        QTimer::singleShot(o.windowMs, Qt::PreciseTimer, &form, finish);
    QTimer::singleShot(wholeCycle ? 120000 : o.windowMs + 60000, &form, finish); // safety net
    QCoreApplication::exec();
    return 0;
}

// The soak: links failing and reconnecting with shortened durations;
// readings of memory and descriptors with every link closed and the log
// cleared, at start, after the warm-up and after the soak.
inline int runMonitorSoak(const ChildOptions &o)
{
    TForm2 form(o.ini, soakDurations());
    LinkCounters counters;
    counters.attach(form);
    form.show();
    waitMs(100);

    auto reading = [&](const QString &name) {
        counters.paused = true;
        setTimerEnabled(form.Timer2(), false);
        for (int slot = 1; slot <= 6; ++slot)
            form.TCP(slot)->AssignConnected(false);
        form.TcpPanel()->AssignConnected(false);
        waitMs(150);
        const int logLines = form.widgets().Memo1->blockCount();
        form.Button2Click(); // the log may hold up to 100,000 lines by design
        waitMs(50);
        const qint64 rss = residentKiB();
        const int fds = openDescriptors();
        ::malloc_trim(0);
        const qint64 rssTrimmed = residentKiB();
        emitLine(QStringLiteral("%1_rss_kib=%2 %1_rss_trimmed_kib=%3 %1_fds=%4 %1_cycles=%5 %1_log_lines=%6")
                     .arg(name)
                     .arg(rss)
                     .arg(rssTrimmed)
                     .arg(fds)
                     .arg(counters.cycles())
                     .arg(logLines));
        counters.paused = false;
        setTimerEnabled(form.Timer2(), true);
    };

    reading(QStringLiteral("start"));
    form.widgets().CB1->setChecked(true); // requests go out on every connected link too
    QElapsedTimer clock;
    clock.start();
    int phase = 0; // 0 warm-up, 1 soak, 2 done
    int baseCycles = 0;
    std::array<int, 7> basePerSlot{};
    bool busy = false;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (busy || phase == 2)
            return;
        busy = true;
        if (phase == 0 && counters.cycles() >= o.warmup) {
            reading(QStringLiteral("before"));
            baseCycles = counters.cycles();
            basePerSlot = counters.downPerSlot;
            clock.restart();
            phase = 1;
        } else if (phase == 1 && counters.cycles() - baseCycles >= o.cycles) {
            const qint64 soakMs = clock.elapsed();
            reading(QStringLiteral("after"));
            phase = 2;
            QString perSlot;
            for (int slot = 1; slot <= 6; ++slot)
                perSlot += QStringLiteral(" slot%1_cycles=%2").arg(slot).arg(counters.downPerSlot[slot] - basePerSlot[slot]);
            emitLine(QStringLiteral("soak_cycles=%1 soak_ms=%2").arg(counters.cycles() - baseCycles).arg(soakMs)
                     + perSlot);
            emitLine(counters.words());
            form.close();
            QCoreApplication::quit();
        }
        busy = false;
    });
    check.start(5);
    QCoreApplication::exec();
    return phase == 2 ? 0 : 1;
}
