// SPDX-License-Identifier: MIT
// How the two sends pace their bytes, measured where a device would see them: on the master
// side of a pseudo-terminal, with a monotonic clock, while the real send commands run
// (offscreen) with their dialogs answered as a user would.
//
//   send_bench [--runs N] [--memory-mib M] [--skip-memory]
//
// Prints per send and delay D (medians over the runs):
//   file delay_ms=<D> bytes=<n> median_gap_ms=<g> p99_gap_ms=<h> bytes_per_s=<r>
// then the Break response and longest event-loop gap at D = 0, and the resident memory while
// a sparse file of M MiB goes out at D = 0.
#include "main/Forms.h"
#include "widgets/MessageBoxes.h"
#include "main/Telvixmain1.h"
#include "send/Telvixmain3.h"
#include "send/Telvixmain4.h"
#include "serial/PortSettings.h"
#include "TForm1Controls.h"
#include "TForm3Controls.h"
#include "TForm4Controls.h"

#include <QApplication>
#include <QLineEdit>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Pty
{
    int master = -1;
    QString slavePath;
    Pty()
    {
        int slave = -1;
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            qFatal("openpty failed");
        termios t {};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        ::close(slave);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        slavePath = QString::fromLocal8Bit(name);
    }
    ~Pty() { ::close(master); }
};

// The device: reads as fast as bytes come and stamps each read.
class Receiver
{
public:
    struct Read
    {
        Clock::time_point at;
        int count;
    };

    Receiver(int fd, bool record) : m_fd(fd), m_record(record)
    {
        if (record)
            m_reads.reserve(1 << 20);
        m_thread = std::thread([this] { run(); });
    }
    ~Receiver()
    {
        m_stop = true;
        m_thread.join();
    }
    int64_t total() const { return m_total; }
    std::vector<Read> reads()
    {
        std::lock_guard lock(m_mutex);
        return m_reads;
    }
    Clock::time_point lastAt()
    {
        std::lock_guard lock(m_mutex);
        return m_last;
    }

private:
    void run()
    {
        std::vector<char> buffer(1 << 16);
        while (!m_stop) {
            pollfd p {m_fd, POLLIN, 0};
            if (poll(&p, 1, 5) <= 0)
                continue;
            const ssize_t n = ::read(m_fd, buffer.data(), buffer.size());
            const Clock::time_point now = Clock::now();
            if (n > 0) {
                m_total += n;
                std::lock_guard lock(m_mutex);
                m_last = now;
                if (m_record)
                    m_reads.push_back({now, int(n)});
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                usleep(500); // no slave open yet, or any more
            }
        }
    }

    int m_fd;
    bool m_record;
    std::atomic<bool> m_stop {false};
    std::atomic<int64_t> m_total {0};
    std::mutex m_mutex;
    std::vector<Read> m_reads;
    Clock::time_point m_last;
    std::thread m_thread;
};

struct Figures
{
    int64_t bytes = 0;
    double medianGap = 0;
    double p99Gap = 0;
    double bytesPerSecond = 0;
};

Figures figuresOf(const std::vector<Receiver::Read> &reads)
{
    Figures f;
    std::vector<double> gaps;
    for (size_t i = 0; i < reads.size(); ++i) {
        f.bytes += reads[i].count;
        if (i > 0)
            gaps.push_back(ms(reads[i].at - reads[i - 1].at));
        // Bytes that came in one read arrived together.
        for (int k = 1; k < reads[i].count; ++k)
            gaps.push_back(0);
    }
    if (gaps.empty())
        return f;
    std::sort(gaps.begin(), gaps.end());
    f.medianGap = gaps[gaps.size() / 2];
    f.p99Gap = gaps[std::min(gaps.size() - 1, size_t(double(gaps.size()) * 0.99))];
    const double span = ms(reads.back().at - reads.front().at) / 1000.0;
    f.bytesPerSecond = span > 0 ? double(f.bytes - 1) / span : 0;
    return f;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Answers the next modal dialog that inherits `className`.
void answer(const char *className, std::function<void(QWidget *)> action)
{
    auto *timer = new QTimer;
    timer->setInterval(1);
    const QByteArray name(className);
    QObject::connect(timer, &QTimer::timeout, [timer, name, action] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible() && modal->inherits(name.constData())) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start();
}

void runFileSend(const QString &path, int delay)
{
    answer("QFileDialog", [path, delay](QWidget *w) {
        answer("TForm3", [delay](QWidget *w) {
            const TForm3Controls &ui = TForm3Controls(w);
            ui.HeadStringEdit->clear();
            ui.EndStringEdit->clear();
            ui.IntercharDelayEdit->setText(QString::number(delay));
            ui.SendButton->click();
        });
        auto *dialog = static_cast<QFileDialog *>(w);
        dialog->selectFile(path);
        // The one dialog is reused for every send; in a folder it has listed before, the file
        // chosen last time can stay selected in its list over the name just given. The name box
        // is what the user types into, and what the dialog goes by.
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(path);
        static_cast<QDialog *>(dialog)->accept();
    });
    TForm1Controls(Form1).Send_FileContentButton->click();
}

void runStringSend(const QString &text, int delay)
{
    answer("TForm4", [text, delay](QWidget *w) {
        answer("TForm4", [](QWidget *w) { TForm4Controls(w).BitBtn2->click(); });
        const TForm4Controls &ui = TForm4Controls(w);
        ui.Edit1->setText(text);
        ui.DelayTimeEdit->setText(QString::number(delay));
        ui.CheckBox1->setChecked(false);
        ui.BitBtn1->click();
    });
    TForm1Controls(Form1).Send_UserStringButton->click();
}

QString makeFile(const QTemporaryDir &dir, const char *name, int64_t size, bool sparse)
{
    const QString path = dir.filePath(QLatin1String(name));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    if (sparse) {
        f.resize(size);
    } else {
        QByteArray block(1 << 16, '\0');
        for (int i = 0; i < block.size(); ++i)
            block[i] = char(i * 13);
        for (int64_t done = 0; done < size; done += block.size())
            f.write(block.constData(), std::min<int64_t>(block.size(), size - done));
    }
    return path;
}

long statusKib(const char *field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(key.size()));
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int runs = 3;
    int64_t memoryMib = 1024;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, atoi(argv[++i]));
        else if (a == "--memory-mib" && i + 1 < argc)
            memoryMib = atoll(argv[++i]);
        else if (a == "--skip-memory")
            memoryMib = 0;
    }
    QApplication app(argc, argv);
    Forms::createAll();
    Form1->show();
    MessageBoxes::setHook([](const MessageBoxes::Shown &) {});

    Pty pty;
    PortSettings::DevicePathText = pty.slavePath;
    QTemporaryDir dir;

    struct Case
    {
        const char *kind;
        int delay;
        int64_t bytes;
    };
    const Case cases[] = {{"file", 0, 2'000'000}, {"file", 1, 1000},   {"file", 10, 1000},
                          {"string", 0, 30'000},  {"string", 1, 1000}, {"string", 10, 1000}};
    for (const Case &c : cases) {
        const QString file = makeFile(dir, "paced.bin", c.bytes, false);
        const QString text(qsizetype(c.bytes), u'A');
        std::vector<double> medians, p99s, rates;
        int64_t bytes = 0;
        for (int r = 0; r < runs; ++r) {
            Receiver receiver(pty.master, true);
            if (qstrcmp(c.kind, "file") == 0)
                runFileSend(file, c.delay);
            else
                runStringSend(text, c.delay);
            while (receiver.total() < c.bytes)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const Figures f = figuresOf(receiver.reads());
            medians.push_back(f.medianGap);
            p99s.push_back(f.p99Gap);
            rates.push_back(f.bytesPerSecond);
            bytes = f.bytes;
        }
        std::printf("%-6s delay_ms=%d bytes=%lld median_gap_ms=%.3f p99_gap_ms=%.3f "
                    "bytes_per_s=%.0f\n",
                    c.kind, c.delay, static_cast<long long>(bytes), median(medians), median(p99s),
                    median(rates));
        std::fflush(stdout);
    }

    // Break at D = 0 in the middle of a long file, and how long events waited meanwhile.
    {
        const QString file = makeFile(dir, "long.bin", 1LL << 30, true);
        std::vector<double> responses, lastByte, eventGaps;
        for (int r = 0; r < runs; ++r) {
            Receiver receiver(pty.master, false);
            Clock::time_point intended;
            Clock::time_point summaryAt;
            MessageBoxes::setHook([&](const MessageBoxes::Shown &) { summaryAt = Clock::now(); });
            QTimer ticker;
            Clock::time_point lastTick = Clock::now();
            double longestGap = 0;
            QObject::connect(&ticker, &QTimer::timeout, [&] {
                const Clock::time_point now = Clock::now();
                if (receiver.total() > 10000)
                    longestGap = std::max(longestGap, ms(now - lastTick));
                lastTick = now;
            });
            ticker.start(1);
            QTimer::singleShot(400, [&] {
                intended = Clock::now();
                TForm1Controls(Form1).BreakButton->click();
            });
            runFileSend(file, 0);
            ticker.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            responses.push_back(ms(summaryAt - intended));
            lastByte.push_back(ms(receiver.lastAt() - intended));
            eventGaps.push_back(longestGap);
        }
        MessageBoxes::setHook([](const MessageBoxes::Shown &) {});
        std::printf("break delay_ms=0 response_ms=%.3f last_byte_after_ms=%.3f "
                    "longest_event_gap_ms=%.3f\n",
                    median(responses), median(lastByte), median(eventGaps));
        std::fflush(stdout);
        QFile::remove(file);
    }

    if (memoryMib > 0) {
        const int64_t size = memoryMib << 20;
        const QString file = makeFile(dir, "huge.bin", size, true);
        Receiver receiver(pty.master, false);
        std::atomic<bool> done {false};
        long rssStart = statusKib("VmRSS");
        long rssMax = rssStart;
        std::thread sampler([&] {
            while (!done) {
                rssMax = std::max(rssMax, statusKib("VmRSS"));
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        const Clock::time_point start = Clock::now();
        runFileSend(file, 0);
        done = true;
        sampler.join();
        const double seconds = ms(Clock::now() - start) / 1000.0;
        std::printf("memory delay_ms=0 bytes=%lld seconds=%.1f rss_start_kib=%ld "
                    "rss_max_kib=%ld rss_growth_kib=%ld peak_rss_kib=%ld\n",
                    static_cast<long long>(receiver.total()), seconds, rssStart, rssMax,
                    rssMax - rssStart, statusKib("VmHWM"));
        QFile::remove(file);
    }
    Forms::destroyAll();
    return 0;
}
