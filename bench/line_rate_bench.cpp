// SPDX-License-Identifier: MIT
// What a running line costs the program: receive mode in the real window, fed through a
// pseudo-terminal at a serial line's own pace, not as fast as the kernel takes the bytes. The
// source is this process, the window a process of its own per run, so that the CPU measured is
// the window's alone (its thread and the port's reader), never the source's.
//
//   line_rate_bench [--platform P] [--seconds N] [--runs N] [--against BENCH] [row ...]
//
//   --platform xcb   the window drawn through the X server of $DISPLAY (under xvfb-run); the
//                    X server's own CPU over the same interval is printed as well
//   --seconds N      length of the paced interval of each run (default 20)
//   --runs N         runs per row; each figure is the median of the runs (default 1)
//   --against BENCH  another build of this bench (the program before a change): each run is
//                    made with both in turn, and a ratio line follows each pair of rows
//   row ...          some of the rows below (default: all of them)
//
// The source writes its chunks at absolute deadlines (the n-th due at start + n x period), so
// a late write is followed by early ones and the rate does not drift. The data are lines of
// text ending in CR LF.
//
// Each row prints:
//   program_cpu_percent   the window process's user + system time over the paced interval,
//                         as % of one core
//   reads_per_s           reads the port's reader made (each read is one record in the stream)
//   passes_per_s          passes of the reading loop that gave the display something to insert
//   insertions_per_s      insertions into the display's text (its textChanged signals)
//   loop_passes_per_s     all passes of the reading loop, the empty ones (a timer, a paint)
//                         included
//   shown_ms              display latency: from the write of a marked byte on the pty until
//                         the display's text holds it, seen from the window's thread at the
//                         insertion; median, 90th percentile and marks seen (20 marks a second)
//   painted_ms            the same until the view's first paint after that insertion began
//                         (its viewport's Paint event)
//   window_repaints_per_s the window's repaint passes (its update requests), view_paints_per_s
//                         the paints of the display's text area among them, and
//                         scroll_bar_paints_per_s those of its two scroll bars,
//                         window_paints_per_s those of the window's own background (under
//                         whatever changed and does not paint all of itself)
//   fed_bytes_per_s       what the source managed to write: below the rate when the pty was full
//   xserver_cpu_percent   with --platform xcb: the X server's time over the same interval
//   accessibility_bridge=on  Qt's AT-SPI bridge was active in the window: run the bench under
//                         tests/support/a11y-session.sh (an X server, a D-Bus session, the
//                         accessibility bus) with --platform xcb
//
// Rows: slow_* at 11,520 B/s (115,200 bit/s) in writes of 16 bytes, fast_* at 1.2 MB/s in writes
// of 512; *_text in the text form, *_hex in the HEX form, *_loaded in the text form with the line
// panel shown, line timestamps, the status bar's byte counters and a live log; idle and
// idle_panel a silent line, without and with the line panel.
//
// GTKTerm, when installed and a display is there, is run on the same pty for the paced text rows
// and the idle one, and its CPU printed beside ours.
#include "BenchSupport.h"
#include "TForm1Controls.h"
#include "TForm6Controls.h"
#include "main/Forms.h"
#include "main/LinePanel.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "main/Translations.h"
#include "serial/PortSettings.h"
#include "session/ModeState.h"
#include "settings/Telvixmain6.h"
#include "traffic/LiveLog.h"
#include "traffic/Traffic.h"
#include "widgets/Fonts.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Row
{
    const char *name;
    int rate; // bytes per second; 0 for a silent line
    int chunk; // bytes per write
    bool hex = false;
    bool loaded = false; // line panel, line timestamps, byte counters, live log
    bool panel = false; // the line panel alone
};

const Row Rows[] = {
        {"slow_text", 11520, 16},
        {"slow_hex", 11520, 16, true},
        {"slow_loaded", 11520, 16, false, true},
        {"fast_text", 1200000, 512},
        {"fast_hex", 1200000, 512, true},
        {"fast_loaded", 1200000, 512, false, true},
        {"idle", 0, 0},
        {"idle_panel", 0, 0, false, false, true},
};

const Row *findRow(const char *name)
{
    for (const Row &r : Rows) {
        if (std::strcmp(r.name, name) == 0)
            return &r;
    }
    return nullptr;
}

constexpr char MarkByte = '#'; // nowhere else in the data
constexpr int64_t MarkIntervalUs = 50000;

int64_t nowUs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int64_t cpuUsSelf()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return int64_t(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000 + u.ru_utime.tv_usec
            + u.ru_stime.tv_usec;
}

// ---- the window's side ------------------------------------------------------------------

// Counts what the reading loop does, through the stream every mode publishes into.
class LoopProbe : public TrafficConsumer
{
public:
    void take(const TrafficRecord &record) override
    {
        if (record.kind == TrafficKind::Received || record.kind == TrafficKind::Flawed) {
            ++reads;
            ++m_inPass;
        }
    }
    void passEnd() override
    {
        ++loopPasses;
        if (m_inPass > 0)
            ++passes;
        m_inPass = 0;
    }
    int64_t reads = 0;
    int64_t passes = 0;
    int64_t loopPasses = 0;

private:
    int64_t m_inPass = 0;
};

// Finds the marks in what the display was given since it last looked, and the first paint of
// the view after each.
class MarkWatch : public QObject
{
public:
    MarkWatch(TrafficView *view, bool hex)
        : m_view(view), m_needle(hex ? QStringLiteral("23 ") : QStringLiteral("#"))
    {
        view->viewport()->installEventFilter(this);
        view->verticalScrollBar()->installEventFilter(this);
        view->horizontalScrollBar()->installEventFilter(this);
        view->window()->installEventFilter(this);
        connect(view, &TrafficView::textChanged, this, [this] {
            ++insertions;
            scan();
        });
    }
    void reset()
    {
        insertions = viewPaints = barPaints = windowPaints = flushes = 0;
        shown.clear();
        painted.clear();
        const TrafficText &t = m_view->text();
        m_line = t.lineCount() - 1;
        m_column = t.lineLength(m_line);
    }
    int64_t insertions = 0;
    int64_t viewPaints = 0; // the display's text area
    int64_t barPaints = 0; // its two scroll bars
    int64_t windowPaints = 0; // the window's own background, under what was not opaque
    int64_t flushes = 0; // the window's repaint passes (update requests), whatever they paint
    std::vector<int64_t> shown; // when the k-th mark was in the text
    std::vector<int64_t> painted; // when the view's paint after it began

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::UpdateRequest && watched == m_view->window())
            ++flushes;
        if (event->type() != QEvent::Paint)
            return false;
        if (watched == m_view->window()) {
            ++windowPaints;
            return false;
        }
        if (watched != m_view->viewport()) {
            ++barPaints;
            return false;
        }
        ++viewPaints;
        if (painted.size() < shown.size())
            painted.resize(shown.size(), nowUs());
        return false;
    }

private:
    void scan()
    {
        const int64_t now = nowUs();
        const TrafficText &t = m_view->text();
        if (m_line >= t.lineCount()) {
            m_line = 0;
            m_column = 0;
        }
        for (;;) {
            const qsizetype length = t.lineLength(m_line);
            if (length > m_column) {
                const QString part = t.lineText(m_line, m_column, length);
                for (qsizetype at = part.indexOf(m_needle); at >= 0;
                     at = part.indexOf(m_needle, at + 1))
                    shown.push_back(now);
            }
            m_column = length;
            if (m_line + 1 >= t.lineCount())
                break;
            ++m_line;
            m_column = 0;
        }
    }

    TrafficView *m_view;
    QString m_needle;
    qsizetype m_line = 0;
    qsizetype m_column = 0;
};

// The settings dialog confirmed as a user would, with line timestamps and the byte counters.
void loadSettings()
{
    QTimer::singleShot(0, [] {
        const TForm6Controls s(Form6);
        s.LineTimestamp_CheckBox->setChecked(true);
        s.Counters_CheckBox->setChecked(true);
        s.BitBtn1->click();
    });
    TForm1Controls(Form1).MiscMenuBar->trigger();
}

std::string joined(const std::vector<int64_t> &v)
{
    std::string s;
    for (int64_t x : v) {
        if (!s.empty())
            s += ',';
        s += std::to_string(x);
    }
    return s.empty() ? std::string("-") : s;
}

// One run in the window's process: ready when receive mode runs, 's' on stdin starts the
// interval, 'e' ends it and the mode; the figures go to stdout as one line.
int runWindow(const Row &row, const QString &line)
{
    QApplication::setApplicationName(QStringLiteral("TELVIX"));
    Fonts::installSubstitutions();
    Translations::install();
    QApplication::setFont(Fonts::ming());
    PortSettings::DevicePathText = line;
    Forms::createAll();
    Form1->show();
    QTemporaryDir logDir;
    if (row.hex)
        TForm1Controls(Form1).HexModeMenuBar->trigger();
    if (row.loaded) {
        loadSettings();
        bench::startLiveLog(logDir.filePath(QStringLiteral("bench.log")));
        if (!Form1->liveLog()) {
            std::fprintf(stderr, "line_rate_bench: the live log did not start\n");
            return 1;
        }
    }
    if (row.loaded || row.panel)
        TForm1Controls(Form1).LinePanelMenuBar->trigger();
    QApplication::processEvents();
    // A row that measured less than it says would be worse than none.
    const bool panelShown = Form1->linePanel() && Form1->linePanel()->isVisible();
    if ((row.loaded || row.panel) != panelShown
        || (row.loaded
            && (!Form1->renderer().options().lineTimestamps
                || !Form6->windowOptions().showCounters))) {
        std::fprintf(stderr, "line_rate_bench: %s: the window is not set up as the row says\n",
                     row.name);
        return 1;
    }

    LoopProbe probe;
    Form1->traffic().subscribe(&probe);
    MarkWatch marks(Form1->memo1(), row.hex);
    int64_t cpuStart = 0, wallStart = 0, cpu = 0, wall = 0;
    bool ended = false;
    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&] {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n == 1 && c == 's') {
            probe.reads = probe.passes = probe.loopPasses = 0;
            marks.reset();
            wallStart = nowUs();
            cpuStart = cpuUsSelf();
        } else if (!ended) {
            // 'e', or the source gone: the interval ends either way.
            cpu = cpuUsSelf() - cpuStart;
            wall = nowUs() - wallStart;
            ended = true;
            commands.setEnabled(false);
            TForm1Controls(Form1).BreakButton->click();
        }
    });
    QTimer::singleShot(0, [] {
        if (ModeState::ReceiveModeActive == 0 || QApplication::activeModalWidget()) {
            std::fprintf(stderr, "line_rate_bench: receive mode did not start on the pty\n");
            std::_Exit(1);
        }
        std::fputs("ready\n", stdout);
        std::fflush(stdout);
    });
    TForm1Controls(Form1).ReceiveButton->click();
    Form1->traffic().unsubscribe(&probe);
    std::printf("result cpu_us=%lld wall_us=%lld reads=%lld passes=%lld loop_passes=%lld "
                "insertions=%lld view_paints=%lld bar_paints=%lld window_paints=%lld flushes=%lld "
                "accessible=%d shown=%s painted=%s\n",
                (long long)cpu, (long long)wall, (long long)probe.reads, (long long)probe.passes,
                (long long)probe.loopPasses, (long long)marks.insertions,
                (long long)marks.viewPaints, (long long)marks.barPaints,
                (long long)marks.windowPaints, (long long)marks.flushes,
                QAccessible::isActive() ? 1 : 0, joined(marks.shown).c_str(),
                joined(marks.painted).c_str());
    std::fflush(stdout);
    if (Form1->liveLog())
        TForm1Controls(Form1).StopLogMenuBar->trigger();
    Forms::destroyAll();
    LiveLog::finishAll(10000);
    return ended ? 0 : 1;
}

// ---- the source's side ------------------------------------------------------------------

// utime + stime of a process, all its threads, from /proc; -1 when it is gone.
int64_t procCpuUs(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE *f = std::fopen(path, "r");
    if (!f)
        return -1;
    char buffer[2048] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    buffer[n] = 0;
    // The name in parentheses may hold spaces: the fields are counted after its end.
    const char *p = std::strrchr(buffer, ')');
    if (!p)
        return -1;
    unsigned long long utime = 0, stime = 0;
    if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime)
        != 2)
        return -1;
    return int64_t((utime + stime) * 1000000ULL / (unsigned long long)sysconf(_SC_CLK_TCK));
}

// The X server of $DISPLAY, when it runs on this machine.
pid_t xServerPid()
{
    const char *display = std::getenv("DISPLAY");
    if (!display || !*display)
        return -1;
    const std::string number = std::string(display).substr(std::string(display).find(':'));
    const std::string shortNumber = number.substr(0, number.find('.'));
    DIR *proc = opendir("/proc");
    if (!proc)
        return -1;
    pid_t found = -1;
    while (dirent *e = readdir(proc)) {
        const pid_t pid = pid_t(std::atoi(e->d_name));
        if (pid <= 0)
            continue;
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%d/cmdline", int(pid));
        FILE *f = std::fopen(path, "r");
        if (!f)
            continue;
        char cmd[4096] = {};
        const size_t n = std::fread(cmd, 1, sizeof cmd - 1, f);
        std::fclose(f);
        const std::string program = cmd;
        const std::string base = program.substr(program.rfind('/') + 1);
        if (base != "Xvfb" && base != "Xorg" && base != "X" && base != "Xwayland")
            continue;
        for (size_t at = 0; at < n; at += std::strlen(cmd + at) + 1) {
            if (shortNumber == cmd + at)
                found = pid;
        }
    }
    closedir(proc);
    return found;
}

struct Child
{
    pid_t pid = -1;
    int in = -1; // its stdin
    int out = -1; // its stdout
};

Child spawn(const std::vector<std::string> &args, bool piped)
{
    int toChild[2] = {-1, -1}, fromChild[2] = {-1, -1};
    if (piped && (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0))
        return {};
    Child c;
    c.pid = fork();
    if (c.pid == 0) {
        if (piped) {
            dup2(toChild[0], STDIN_FILENO);
            dup2(fromChild[1], STDOUT_FILENO);
        } else {
            const int null = ::open("/dev/null", O_RDWR);
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (piped) {
        ::close(toChild[0]);
        ::close(fromChild[1]);
        c.in = toChild[1];
        c.out = fromChild[0];
    }
    return c;
}

// A line of the child's stdout, waiting at most `timeoutMs`.
std::optional<std::string> readLine(int fd, int timeoutMs)
{
    std::string line;
    const int64_t end = nowUs() + int64_t(timeoutMs) * 1000;
    for (;;) {
        const int64_t left = (end - nowUs()) / 1000;
        pollfd p {fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, int(left)) <= 0)
            return std::nullopt;
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0)
            return std::nullopt;
        if (c == '\n')
            return line;
        line += c;
    }
}

void sleepUntil(int64_t dueUs)
{
    const timespec due {time_t(dueUs / 1000000), long(dueUs % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) { }
}

struct Fed
{
    int64_t bytes = 0;
    int64_t seconds_us = 0;
    std::vector<int64_t> marks; // when each marked write began
    bool stalled = false; // the pty took nothing for seconds: the reader is gone
};

// Writes the row's data at its pace for `seconds`, each chunk due at start + n x period.
Fed pace(int master, const Row &row, double seconds)
{
    Fed fed;
    const int64_t start = nowUs();
    const int64_t end = start + int64_t(seconds * 1e6);
    if (row.rate == 0) {
        sleepUntil(end);
        fed.seconds_us = nowUs() - start;
        return fed;
    }
    static const char Text[] = "The quick brown fox jumps over the lazy dog 0123456789 ,.;:!?";
    std::string line;
    for (int i = 0; i < 62; ++i)
        line += Text[i % (sizeof Text - 1)];
    line += "\r\n";
    std::string data;
    while (data.size() < size_t(row.chunk) + line.size())
        data += line;
    const double periodUs = 1e6 * double(row.chunk) / double(row.rate);
    const int64_t markEvery = std::max<int64_t>(1, std::llround(MarkIntervalUs / periodUs));
    std::vector<char> chunk(size_t(row.chunk));
    for (int64_t n = 0;; ++n) {
        const int64_t due = start + int64_t(std::llround(double(n) * periodUs));
        if (due >= end)
            break;
        sleepUntil(due);
        // Chunks start at a multiple of 16 within the 64-byte lines: never on the CR LF.
        const size_t offset = size_t((n * row.chunk) % int64_t(line.size()));
        std::memcpy(chunk.data(), data.data() + offset, chunk.size());
        if (n % markEvery == 0) {
            chunk[0] = MarkByte;
            fed.marks.push_back(nowUs());
        }
        size_t done = 0;
        while (done < chunk.size()) {
            const ssize_t w = ::write(master, chunk.data() + done, chunk.size() - done);
            if (w > 0) {
                done += size_t(w);
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR) {
                fed.stalled = true;
                break;
            }
            // Nobody reads the other side (a program that did not open the port): its hang-up
            // makes the pty poll ready at once while it stays full.
            pollfd p {master, POLLOUT, 0};
            if (poll(&p, 1, 5000) <= 0 || !(p.revents & POLLOUT) || nowUs() > end) {
                fed.stalled = true;
                break;
            }
        }
        fed.bytes += int64_t(done);
        if (fed.stalled)
            break;
    }
    fed.seconds_us = nowUs() - start;
    return fed;
}

struct Figures
{
    bool ok = false;
    double cpuPercent = 0;
    double readsPerS = 0;
    double passesPerS = 0;
    double insertionsPerS = 0;
    double loopPassesPerS = 0;
    double viewPaintsPerS = 0;
    double barPaintsPerS = 0;
    double windowPaintsPerS = 0;
    bool accessible = false;
    double flushesPerS = 0;
    double fedPerS = 0;
    double shownMs = NAN, shownP90Ms = NAN;
    double paintedMs = NAN, paintedP90Ms = NAN;
    int marks = 0, marksShown = 0;
    double xCpuPercent = NAN;
};

double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

std::map<std::string, std::string> fields(const std::string &line)
{
    std::map<std::string, std::string> m;
    size_t at = 0;
    while (at < line.size()) {
        const size_t end = std::min(line.find(' ', at), line.size());
        const std::string word = line.substr(at, end - at);
        const size_t eq = word.find('=');
        if (eq != std::string::npos)
            m[word.substr(0, eq)] = word.substr(eq + 1);
        at = end + 1;
    }
    return m;
}

std::vector<int64_t> numbers(const std::string &list)
{
    std::vector<int64_t> v;
    if (list == "-")
        return v;
    size_t at = 0;
    while (at < list.size()) {
        const size_t end = std::min(list.find(',', at), list.size());
        v.push_back(std::atoll(list.substr(at, end - at).c_str()));
        at = end + 1;
    }
    return v;
}

void stopChild(pid_t pid)
{
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(50000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// One run of a row with the window of `bench` (this program or the one it is compared with).
Figures runOnce(const std::string &bench, const Row &row, double seconds)
{
    Figures f;
    bench::PtyLine line;
    if (line.master < 0) {
        std::fprintf(stderr, "line_rate_bench: no pseudo-terminal: %s\n", std::strerror(errno));
        return f;
    }
    const Child child = spawn({bench, "--window", row.name, line.slave.toStdString()}, true);
    if (child.pid <= 0)
        return f;
    const std::optional<std::string> ready = readLine(child.out, 60000);
    if (!ready || *ready != "ready") {
        std::fprintf(stderr, "line_rate_bench: %s: the window did not start receiving\n", row.name);
        kill(child.pid, SIGKILL);
        waitpid(child.pid, nullptr, 0);
        return f;
    }
    // The first paints and the fonts' loading are no part of what the line costs.
    usleep(1500000);
    const pid_t x = qgetenv("QT_QPA_PLATFORM") == "xcb" ? xServerPid() : -1;
    const int64_t xStart = x > 0 ? procCpuUs(x) : -1;
    if (::write(child.in, "s", 1) != 1)
        return f;
    const Fed fed = pace(line.master, row, seconds);
    const int64_t xEnd = x > 0 ? procCpuUs(x) : -1;
    const bool told = ::write(child.in, "e", 1) == 1;
    const std::optional<std::string> result = told ? readLine(child.out, 120000) : std::nullopt;
    ::close(child.in);
    ::close(child.out);
    stopChild(child.pid);
    if (!result || result->rfind("result ", 0) != 0) {
        std::fprintf(stderr, "line_rate_bench: %s: the window gave no figures\n", row.name);
        return f;
    }
    const std::map<std::string, std::string> m = fields(*result);
    const auto number = [&](const char *key) {
        const auto it = m.find(key);
        return it == m.end() ? 0.0 : std::atof(it->second.c_str());
    };
    const double wall = number("wall_us") / 1e6;
    if (wall <= 0)
        return f;
    f.cpuPercent = number("cpu_us") / 1e4 / wall;
    f.readsPerS = number("reads") / wall;
    f.passesPerS = number("passes") / wall;
    f.insertionsPerS = number("insertions") / wall;
    f.loopPassesPerS = number("loop_passes") / wall;
    f.viewPaintsPerS = number("view_paints") / wall;
    f.barPaintsPerS = number("bar_paints") / wall;
    f.windowPaintsPerS = number("window_paints") / wall;
    f.accessible = number("accessible") != 0;
    f.flushesPerS = number("flushes") / wall;
    f.fedPerS = double(fed.bytes) / (double(fed.seconds_us) / 1e6);
    const std::vector<int64_t> shown = numbers(m.at("shown"));
    const std::vector<int64_t> painted = numbers(m.at("painted"));
    std::vector<double> toShown, toPainted;
    for (size_t k = 0; k < shown.size() && k < fed.marks.size(); ++k)
        toShown.push_back(double(shown[k] - fed.marks[k]) / 1000.0);
    for (size_t k = 0; k < painted.size() && k < fed.marks.size(); ++k)
        toPainted.push_back(double(painted[k] - fed.marks[k]) / 1000.0);
    f.marks = int(fed.marks.size());
    f.marksShown = int(std::min(shown.size(), fed.marks.size()));
    f.shownMs = percentile(toShown, 0.5);
    f.shownP90Ms = percentile(toShown, 0.9);
    f.paintedMs = percentile(toPainted, 0.5);
    f.paintedP90Ms = percentile(toPainted, 0.9);
    if (xStart >= 0 && xEnd >= 0)
        f.xCpuPercent = double(xEnd - xStart) / 1e4 / (double(fed.seconds_us) / 1e6);
    if (shown.size() > fed.marks.size())
        std::fprintf(stderr, "line_rate_bench: %s: more marks shown than written\n", row.name);
    f.ok = !fed.stalled && shown.size() <= fed.marks.size();
    return f;
}

// Another program on the same pty: its CPU over the same paced interval.
std::optional<double> runOther(const std::vector<std::string> &command, const Row &row,
                               double seconds)
{
    bench::PtyLine line;
    std::vector<std::string> args = command;
    for (std::string &a : args) {
        if (a == "{port}")
            a = line.slave.toStdString();
    }
    const Child child = spawn(args, false);
    if (child.pid <= 0)
        return std::nullopt;
    // No word comes back that it opened the port: it is given time to.
    usleep(3000000);
    const int64_t before = procCpuUs(child.pid);
    const Fed fed = pace(line.master, row, seconds);
    const int64_t after = procCpuUs(child.pid);
    kill(child.pid, SIGTERM);
    stopChild(child.pid);
    if (before < 0 || after < 0 || fed.stalled)
        return std::nullopt;
    return double(after - before) / 1e4 / (double(fed.seconds_us) / 1e6);
}

double median(std::vector<double> v)
{
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }), v.end());
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

Figures medianOf(const std::vector<Figures> &runs)
{
    Figures m;
    m.ok = !runs.empty();
    const auto of = [&](double Figures::*field) {
        std::vector<double> v;
        for (const Figures &f : runs)
            v.push_back(f.*field);
        return median(v);
    };
    for (const Figures &f : runs) {
        m.ok = m.ok && f.ok;
        m.marks += f.marks;
        m.marksShown += f.marksShown;
    }
    m.cpuPercent = of(&Figures::cpuPercent);
    m.readsPerS = of(&Figures::readsPerS);
    m.passesPerS = of(&Figures::passesPerS);
    m.insertionsPerS = of(&Figures::insertionsPerS);
    m.loopPassesPerS = of(&Figures::loopPassesPerS);
    m.viewPaintsPerS = of(&Figures::viewPaintsPerS);
    m.barPaintsPerS = of(&Figures::barPaintsPerS);
    m.windowPaintsPerS = of(&Figures::windowPaintsPerS);
    m.accessible = !runs.empty() && runs.front().accessible;
    m.flushesPerS = of(&Figures::flushesPerS);
    m.fedPerS = of(&Figures::fedPerS);
    m.shownMs = of(&Figures::shownMs);
    m.shownP90Ms = of(&Figures::shownP90Ms);
    m.paintedMs = of(&Figures::paintedMs);
    m.paintedP90Ms = of(&Figures::paintedP90Ms);
    m.xCpuPercent = of(&Figures::xCpuPercent);
    return m;
}

std::string ms(double median, double p90)
{
    if (std::isnan(median))
        return "n/a";
    char s[64];
    std::snprintf(s, sizeof s, "%.2f(p90=%.2f)", median, p90);
    return s;
}

void printRow(const char *build, const Row &row, const Figures &f, int runs)
{
    std::printf("row=%s build=%s rate=%d write_bytes=%d program_cpu_percent=%.2f "
                "passes_per_s=%.1f insertions_per_s=%.1f loop_passes_per_s=%.1f "
                "reads_per_s=%.1f window_repaints_per_s=%.1f view_paints_per_s=%.1f "
                "scroll_bar_paints_per_s=%.1f window_paints_per_s=%.1f shown_ms=%s painted_ms=%s "
                "marks=%d/%d "
                "fed_bytes_per_s=%.0f",
                row.name, build, row.rate, row.chunk, f.cpuPercent, f.passesPerS, f.insertionsPerS,
                f.loopPassesPerS, f.readsPerS, f.flushesPerS, f.viewPaintsPerS, f.barPaintsPerS,
                f.windowPaintsPerS, ms(f.shownMs, f.shownP90Ms).c_str(),
                ms(f.paintedMs, f.paintedP90Ms).c_str(), f.marksShown, f.marks, f.fedPerS);
    if (!std::isnan(f.xCpuPercent))
        std::printf(" xserver_cpu_percent=%.2f", f.xCpuPercent);
    if (f.accessible)
        std::printf(" accessibility_bridge=on");
    std::printf(" runs=%d%s\n", runs, f.ok ? "" : " FAILED");
    std::fflush(stdout);
}

bool onPath(const char *program)
{
    const char *path = std::getenv("PATH");
    if (!path)
        return false;
    const std::string p = path;
    size_t at = 0;
    while (at <= p.size()) {
        const size_t end = std::min(p.find(':', at), p.size());
        const std::string candidate = p.substr(at, end - at) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        at = end + 1;
    }
    return false;
}

void runOthers(const std::vector<const Row *> &rows, double seconds, int runs)
{
    if (onPath("cutecom"))
        std::printf("cutecom: installed, not run: it takes its port from a session of its own "
                    "settings and connects on a click\n");
    else
        std::printf("cutecom: not installed, skipped\n");
    if (!onPath("gtkterm")) {
        std::printf("gtkterm: not installed, skipped\n");
        return;
    }
    if (!std::getenv("DISPLAY")) {
        std::printf("gtkterm: no $DISPLAY (run under xvfb-run), skipped\n");
        return;
    }
    for (const Row *row : rows) {
        if (row->hex || row->loaded || row->panel)
            continue;
        std::vector<double> cpu;
        for (int run = 0; run < runs; ++run) {
            if (const auto c = runOther({"gtkterm", "--port", "{port}", "--speed", "115200"}, *row,
                                        seconds))
                cpu.push_back(*c);
        }
        if (cpu.empty())
            std::printf("row=%s program=gtkterm FAILED\n", row->name);
        else
            std::printf("row=%s program=gtkterm program_cpu_percent=%.2f runs=%zu\n", row->name,
                        median(cpu), cpu.size());
        std::fflush(stdout);
    }
}

int usage()
{
    std::fprintf(stderr,
                 "usage: line_rate_bench [--platform P] [--seconds N] [--runs N] "
                 "[--against BENCH] [row ...]\nrows:");
    for (const Row &r : Rows)
        std::fprintf(stderr, " %s", r.name);
    std::fputc('\n', stderr);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && std::strcmp(argv[1], "--window") == 0) {
        const Row *row = findRow(argv[2]);
        if (!row)
            return usage();
        int qtArgc = 1;
        QApplication app(qtArgc, argv);
        return runWindow(*row, QString::fromLocal8Bit(argv[3]));
    }
    std::string platform = "offscreen";
    std::string against;
    double seconds = 20;
    int runs = 1;
    std::vector<const Row *> rows;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--platform" && hasValue) {
            platform = argv[++i];
        } else if (a == "--seconds" && hasValue) {
            seconds = std::atof(argv[++i]);
        } else if (a == "--runs" && hasValue) {
            runs = std::atoi(argv[++i]);
        } else if (a == "--against" && hasValue) {
            against = argv[++i];
        } else if (const Row *row = findRow(argv[i])) {
            rows.push_back(row);
        } else {
            return usage();
        }
    }
    if (seconds <= 0 || runs <= 0)
        return usage();
    if (rows.empty()) {
        for (const Row &r : Rows)
            rows.push_back(&r);
    }
    setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
    // A child that is gone must not end the source with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 1;
    std::printf("# line_rate_bench platform=%s seconds=%g runs=%d%s%s\n"
                "# program_cpu_percent: the window process (its thread and the reader) over the "
                "paced interval, %% of one core\n"
                "# shown_ms: a marked byte's write on the pty until the display's text holds it; "
                "painted_ms: until the view's next paint began (medians, p90)\n"
                "# passes_per_s: reading-loop passes that gave the display something; "
                "loop_passes_per_s: all of them\n",
                platform.c_str(), seconds, runs,
                against.empty() ? "" : " against=", against.c_str());
    std::fflush(stdout);
    int failures = 0;
    for (const Row *row : rows) {
        std::vector<Figures> mine, theirs;
        for (int run = 0; run < runs; ++run) {
            mine.push_back(runOnce(self, *row, seconds));
            if (!against.empty())
                theirs.push_back(runOnce(against, *row, seconds));
        }
        const Figures m = medianOf(mine);
        failures += !m.ok;
        printRow(against.empty() ? "this" : "after", *row, m, runs);
        if (!against.empty()) {
            const Figures t = medianOf(theirs);
            failures += !t.ok;
            printRow("before", *row, t, runs);
            std::printf("ratio row=%s cpu_after_over_before=%.2f passes_after_over_before=%.2f "
                        "shown_ms_after_over_before=%.2f\n",
                        row->name, t.cpuPercent > 0 ? m.cpuPercent / t.cpuPercent : NAN,
                        t.passesPerS > 0 ? m.passesPerS / t.passesPerS : NAN,
                        t.shownMs > 0 ? m.shownMs / t.shownMs : NAN);
            std::fflush(stdout);
        }
    }
    runOthers(rows, seconds, runs);
    return failures;
}
