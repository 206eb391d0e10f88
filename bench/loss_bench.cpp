// SPDX-License-Identifier: MIT
// Whether bytes are lost while the window is busy: a device streams into a pseudo-terminal at a
// fixed rate while the window is held up (a modal dialog over receive or terminal mode, a long
// terminal send, the window's thread blocked), and the bench counts what the line refused,
// what the display showed and the CPU the program used meanwhile.
//
// The device is a child process that writes without blocking every millisecond and counts
// every refused write as bytes a UART would have dropped. The display runs in the HEX form, so
// that every byte it shows is two hex digits. The monitor's row feeds its two lines at once.
//
//   loss_bench [--hold SECONDS] [scenario ...]    (default 60 s; all scenarios)
//
// One line per scenario:
//   scenario=<name> fed=<bytes> refused=<bytes> shown=<bytes> cpu_percent=<% of one core>
#include "TForm1Controls.h"
#include "main/Forms.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "modes/MonitorSession.h"
#include "serial/PortSettings.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

enum class Mode { Receive, Terminal, Monitor };
// Watch: nothing holds the window up; the monitor's two lines are fed at once.
enum class Busy { FontDialog, SettingsDialog, Picker, TerminalSend, NoData, Blocked, Watch };

struct Scenario
{
    const char *name;
    Mode mode;
    int rate; // bytes per second the device sends
    Busy busy;
};

const Scenario Scenarios[] = {
        {"font_dialog_receive", Mode::Receive, 11520, Busy::FontDialog},
        {"settings_dialog_receive", Mode::Receive, 115200, Busy::SettingsDialog},
        {"picker_terminal", Mode::Terminal, 11520, Busy::Picker},
        {"terminal_send_8000", Mode::Terminal, 115200, Busy::TerminalSend},
        {"dialog_no_data", Mode::Receive, 0, Busy::NoData},
        {"window_blocked_2s", Mode::Receive, 1200000, Busy::Blocked},
        {"monitor_1200000_each", Mode::Monitor, 1200000, Busy::Watch},
};

double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
            + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double nowSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Fed
{
    long long offered = 0;
    long long refused = 0;
};

// The device: a child process, so that its CPU is not the program's.
class Feeder
{
public:
    Feeder(int master, int rate, double seconds)
    {
        int report[2];
        if (pipe(report) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            ::close(report[0]);
            const Fed fed = feed(master, rate, seconds);
            if (::write(report[1], &fed, sizeof fed) != sizeof fed)
                _exit(1);
            _exit(0);
        }
        ::close(report[1]);
        m_report = report[0];
    }
    ~Feeder() { wait(); }
    bool done()
    {
        pollfd p {m_report, POLLIN, 0};
        return m_pid <= 0 || poll(&p, 1, 0) > 0;
    }
    Fed wait()
    {
        if (m_pid > 0) {
            if (::read(m_report, &m_fed, sizeof m_fed) != sizeof m_fed)
                m_fed = {};
            waitpid(m_pid, nullptr, 0);
            ::close(m_report);
            m_pid = -1;
        }
        return m_fed;
    }

private:
    static Fed feed(int master, int rate, double seconds)
    {
        Fed fed;
        const double start = nowSeconds();
        double owed = 0;
        unsigned value = 0;
        char chunk[65536];
        timespec tick {0, 1000000};
        while (nowSeconds() - start < seconds) {
            owed += rate / 1000.0;
            const int n = std::min<int>(int(owed), int(sizeof chunk));
            owed -= n;
            for (int i = 0; i < n; ++i)
                chunk[i] = char((value++ * 7) & 0xFF);
            fed.offered += n;
            int done = 0;
            while (done < n) {
                const ssize_t w = ::write(master, chunk + done, size_t(n - done));
                if (w > 0) {
                    done += int(w);
                } else if (w < 0 && errno == EINTR) {
                    continue;
                } else {
                    fed.refused += n - done; // a UART's receiver would have dropped these
                    break;
                }
            }
            nanosleep(&tick, nullptr);
        }
        return fed;
    }

    pid_t m_pid = -1;
    int m_report = -1;
    Fed m_fed;
};

// Bytes the HEX display shows: two hex digits each. The terminal's name prefixes hold none, nor
// do the monitor's names here.
long long shownBytes(const TrafficView *memo)
{
    long long digits = 0;
    const TrafficText &text = memo->text();
    for (qsizetype i = 0; i < text.lineCount(); ++i) {
        for (QChar c : text.line(i)) {
            const char16_t u = c.unicode();
            if ((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F'))
                ++digits;
        }
    }
    return digits / 2;
}

// Runs `step` after `ms`, also from inside a modal dialog's event loop.
void after(int ms, std::function<void()> step) { QTimer::singleShot(ms, std::move(step)); }

void closeModalAfter(int ms)
{
    after(ms, [] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->reject();
    });
}

// A pseudo-terminal's master, non-blocking, and its slave's path; -1 when none could be had.
int openDevice(QString &path)
{
    int master = -1;
    int slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return -1;
    ::close(slave);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    path = QString::fromLocal8Bit(name);
    return master;
}

void run(const Scenario &s, int holdSeconds)
{
    QString path;
    QString secondPath;
    const int master = openDevice(path);
    const int second = s.mode == Mode::Monitor ? openDevice(secondPath) : -1;
    if (master < 0 || (s.mode == Mode::Monitor && second < 0))
        return;
    PortSettings::reset();
    PortSettings::DevicePathText = path;
    Forms::createAll();
    Form1->show();
    const TForm1Controls &ui = TForm1Controls(Form1);
    ui.HexModeMenuBar->trigger();
    const long long echoed = s.busy == Busy::TerminalSend ? 8000 : 0;
    if (s.busy == Busy::TerminalSend) {
        ui.Memo2->setPlainText(QString(int(echoed), u'A'));
        ui.TRMode_Char_DelayTime_Edit->setText(QStringLiteral("1"));
    }
    const double busySeconds = s.busy == Busy::Blocked              ? 2.0
            : s.busy == Busy::TerminalSend || s.busy == Busy::Watch ? 10.0
                                                                    : double(holdSeconds);
    Feeder *feeder = nullptr;
    Feeder *secondFeeder = nullptr;
    double cpuBusy = 0;
    double wallBusy = 0;

    after(300, [&] {
        feeder = new Feeder(master, s.rate, 0.5 + busySeconds + 0.5);
        if (second >= 0)
            secondFeeder = new Feeder(second, s.rate, 0.5 + busySeconds + 0.5);
        after(500, [&] {
            const double cpu0 = cpuSeconds();
            const double wall0 = nowSeconds();
            // Once the window is free again: what it cost, then wait until the device is done
            // and the display has caught up.
            const auto busyEnded = [&, cpu0, wall0] {
                cpuBusy = cpuSeconds() - cpu0;
                wallBusy = nowSeconds() - wall0;
                auto *poll = new QTimer;
                poll->setInterval(200);
                auto last = std::make_shared<qsizetype>(-1);
                QObject::connect(poll, &QTimer::timeout, [&, poll, last] {
                    const qsizetype now = Form1->memo1()->text().characterCount();
                    if (feeder->done() && (!secondFeeder || secondFeeder->done()) && now == *last) {
                        poll->stop();
                        poll->deleteLater();
                        ui.BreakButton->click();
                    }
                    *last = now;
                });
                poll->start();
            };
            switch (s.busy) {
            case Busy::FontDialog:
            case Busy::NoData:
                closeModalAfter(holdSeconds * 1000);
                ui.FontsMenubar->trigger();
                break;
            case Busy::SettingsDialog:
                closeModalAfter(holdSeconds * 1000);
                ui.MiscMenuBar->trigger();
                break;
            case Busy::Picker:
                closeModalAfter(holdSeconds * 1000);
                ui.EchoEditControlInsertButton->click();
                break;
            case Busy::TerminalSend:
                ui.SendEchoMessageButton->click();
                break;
            case Busy::Blocked:
                std::this_thread::sleep_for(std::chrono::seconds(2));
                break;
            case Busy::Watch:
                // Nothing holds the window: the cost of the whole feed, the mode reading on.
                after(int(busySeconds * 1000), busyEnded);
                return;
            }
            busyEnded();
        });
    });
    if (s.mode == Mode::Receive) {
        ui.ReceiveButton->click();
    } else if (s.mode == Mode::Terminal) {
        ui.EnableTRModeButton->click();
    } else {
        MonitorRequest request;
        request.a.devicePath = path;
        request.b.devicePath = secondPath;
        request.nameA = QStringLiteral("甲");
        request.nameB = QStringLiteral("乙");
        MonitorSession(*Form1).run(request);
    }

    Fed fed = feeder ? feeder->wait() : Fed {};
    delete feeder;
    if (secondFeeder) {
        const Fed more = secondFeeder->wait();
        fed.offered += more.offered;
        fed.refused += more.refused;
        delete secondFeeder;
    }
    const long long shown = shownBytes(Form1->memo1()) - echoed;
    std::printf("scenario=%s fed=%lld refused=%lld shown=%lld cpu_percent=%.2f\n", s.name,
                fed.offered, fed.refused, shown, wallBusy > 0 ? 100.0 * cpuBusy / wallBusy : 0.0);
    std::fflush(stdout);
    Forms::destroyAll();
    ::close(master);
    if (second >= 0)
        ::close(second);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    int hold = 60;
    QStringList wanted;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hold") == 0 && i + 1 < argc)
            hold = std::max(1, std::atoi(argv[++i]));
        else
            wanted.append(QString::fromLocal8Bit(argv[i]));
    }
    for (const Scenario &s : Scenarios) {
        if (wanted.isEmpty() || wanted.contains(QLatin1String(s.name)))
            run(s, hold);
    }
    return 0;
}
