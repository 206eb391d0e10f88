// SPDX-License-Identifier: MIT
// A long receive session: telvix-sim streams at a serial line's pace into receive mode of the
// real window (offscreen) for many minutes, and the display is cleared every minute, as a
// technician watching a line all afternoon would. Before each clear the bytes are read back off
// the display, so the check covers the whole path, line to screen: at the end their count and
// SHA-256 must equal what the simulator reports the port took. After each clear the resident
// memory is printed, with the live heap and the capture beside it. The capture keeps every byte
// of the mode, Clear or not, so it grows by about a byte a byte; apart from it the resident size
// must not grow by more than 1 MiB over the run.
//
//   soak [--minutes M] [--rate BYTES_PER_S] [--form hex|ascii]
//
// hex (the default) streams random bytes and reads them back from the hex form; ascii streams
// the simulator's text lines and reads them back from the text form (<CR>, <LF> and the breaks).
#include "main/Forms.h"
#include "session/ModeState.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "serial/PortSettings.h"
#include "TForm1Controls.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <unistd.h>

namespace {

struct Options
{
    int minutes = 30;
    qint64 rate = 115200;
    bool hex = true;
};

bool parse(int argc, char *argv[], Options &o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray key = argv[i], value = argv[i + 1];
        bool ok = false;
        if (key == "--minutes")
            o.minutes = value.toInt(&ok);
        else if (key == "--rate")
            o.rate = value.toLongLong(&ok);
        else if (key == "--form")
            ok = (value == "hex" || value == "ascii") && ((o.hex = value == "hex"), true);
        if (!ok || o.minutes <= 0 || o.rate <= 0)
            return false;
    }
    return argc % 2 == 1;
}

long rssKib()
{
    FILE *f = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// What the program's live heap holds: unlike the resident size, it drops when memory is freed
// even where the allocator keeps the pages for later.
long heapKib()
{
    const struct mallinfo2 m = mallinfo2();
    return long((m.uordblks + m.hblkhd) / 1024);
}

int hexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Counts and hashes the bytes a display text stands for. Returns false at anything the form
// would not show for the pattern streamed: then a byte was changed or cut on its way.
// The bytes pass through a small buffer: one of a minute's size would stay in the allocator's
// hands once freed and show in the resident size as if the display had kept it.
bool readBack(const QString &text, bool hex, QCryptographicHash &hash, qint64 &count)
{
    QByteArray bytes;
    const auto flush = [&] {
        hash.addData(bytes);
        count += bytes.size();
        bytes.clear();
    };
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        const char16_t c = text[i].unicode();
        if (c == u'\n') { // a line break of the display, no byte of its own
            ++i;
            continue;
        }
        if (hex) {
            // "XX " per byte
            if (i + 2 >= n || hexDigit(c) < 0 || hexDigit(text[i + 1].unicode()) < 0
                || text[i + 2] != u' ')
                return false;
            bytes += char(hexDigit(c) * 16 + hexDigit(text[i + 1].unicode()));
            i += 3;
        } else if (c == u'<') {
            if (text.mid(i, 4) == QLatin1String("<CR>"))
                bytes += '\r';
            else if (text.mid(i, 4) == QLatin1String("<LF>"))
                bytes += '\n';
            else
                return false;
            i += 4;
        } else {
            if (c < 0x20 || c > 0x7e)
                return false;
            bytes += char(c);
            ++i;
        }
        if (bytes.size() >= 65536)
            flush();
    }
    flush();
    return true;
}

QByteArray reportField(const QByteArray &report, const QByteArray &key)
{
    for (const QByteArray &line : report.split('\n')) {
        if (!line.startsWith("stream:"))
            continue;
        for (const QByteArray &field : line.split(' ')) {
            if (field.startsWith(key + '='))
                return field.mid(key.size() + 1).trimmed();
        }
    }
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: soak [--minutes M] [--rate BYTES_PER_S] [--form hex|ascii]\n");
        return 2;
    }
    QApplication app(argc, argv);
    QTemporaryDir runtime;
    const qint64 total = o.rate * 60 * o.minutes;

    QProcess sim;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    sim.setProcessEnvironment(env);
    sim.start(QStringLiteral(TELVIX_SIM_PATH),
              {"stream", "--pattern", o.hex ? "random" : "text", "--rate",
               QString::number(o.rate), "--count", QString::number(total), "--name", "soak",
               "--quiet"});
    if (!sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "soak: telvix-sim did not start\n");
        return 1;
    }
    const QString port = QString::fromLocal8Bit(sim.readLine().trimmed());

    PortSettings::DevicePathText = port;
    Forms::createAll();
    Form1->show();
    if (o.hex)
        TForm1Controls(Form1).HexModeMenuBar->trigger();
    QApplication::processEvents();
    std::printf("soak: minutes=%d rate=%lld form=%s port=%s\n", o.minutes,
                static_cast<long long>(o.rate), o.hex ? "hex" : "ascii", qPrintable(port));
    std::printf("minute bytes_shown rss_kib heap_kib capture_kib\n");
    std::fflush(stdout);

    QCryptographicHash shown(QCryptographicHash::Sha256);
    qint64 count = 0;
    bool garbled = false;
    std::vector<long> rss, heap, capture; // after each minute's clear
    TrafficView *memo = Form1->memo1();
    const auto takeAndClear = [&] {
        garbled |= !readBack(memo->toPlainText(), o.hex, shown, count);
        TForm1Controls(Form1).ClearDataButton->click();
    };

    QElapsedTimer clock;
    int minute = 0;
    QTimer everyMinute;
    everyMinute.setInterval(60000);
    QObject::connect(&everyMinute, &QTimer::timeout, [&] {
        takeAndClear();
        rss.push_back(rssKib());
        heap.push_back(heapKib());
        // What the capture has written in memory is what of it is resident: its blocks are
        // not touched before.
        const TrafficCapture &c = Form1->capture();
        capture.push_back(long((c.storedBytes() - c.spilledBytes()) / 1024));
        std::printf("%6d %11lld %7ld %8ld %11ld\n", ++minute, static_cast<long long>(count),
                    rss.back(), heap.back(), capture.back());
        std::fflush(stdout);
        if (minute >= o.minutes)
            everyMinute.stop();
    });
    // After the last minute: the bytes still on their way, for at most half a minute more.
    QTimer tail;
    tail.setInterval(250);
    QObject::connect(&tail, &QTimer::timeout, [&] {
        if (minute < o.minutes)
            return;
        takeAndClear();
        if (count >= total || clock.elapsed() > (o.minutes * 60 + 30) * 1000LL)
            TForm1Controls(Form1).BreakButton->click();
    });
    QTimer::singleShot(0, [&] {
        clock.start();
        everyMinute.start();
        tail.start();
    });
    TForm1Controls(Form1).ReceiveButton->click(); // runs until Break

    // The port is closed now, so the simulator ends and reports what the port took.
    sim.closeWriteChannel();
    if (!sim.waitForFinished(10000))
        sim.terminate();
    sim.waitForFinished(5000);
    const QByteArray report = sim.readAllStandardOutput();
    const QByteArray sentSha = reportField(report, "sha256");
    const qint64 sent = reportField(report, "bytes").toLongLong();
    const QByteArray shownSha = shown.result().toHex();

    const long first = rss.empty() ? 0 : rss.front();
    const long highest = rss.empty() ? 0 : *std::max_element(rss.begin(), rss.end());
    const long last = rss.empty() ? 0 : rss.back();
    // The resident size without what the capture has taken since the first minute.
    long beyondCapture = 0;
    for (size_t i = 0; i < rss.size(); ++i)
        beyondCapture = std::max(beyondCapture, (rss[i] - first) - (capture[i] - capture[0]));
    const bool exact = !garbled && sent == total && count == sent && shownSha == sentSha;
    const bool flat = beyondCapture <= 1024;
    std::printf("bytes_sent=%lld bytes_shown=%lld sha256_sent=%s sha256_shown=%s garbled=%s\n",
                static_cast<long long>(sent), static_cast<long long>(count), sentSha.constData(),
                shownSha.constData(), garbled ? "yes" : "no");
    std::printf("rss_first_kib=%ld rss_last_kib=%ld rss_growth_kib=%ld rss_max_over_first_kib=%ld\n",
                first, last, last - first, highest - first);
    if (!capture.empty())
        std::printf("capture_growth_kib=%ld rss_max_over_first_beyond_capture_kib=%ld\n",
                    capture.back() - capture.front(), beyondCapture);
    if (!heap.empty()) {
        std::printf("heap_first_kib=%ld heap_last_kib=%ld heap_max_over_first_kib=%ld\n",
                    heap.front(), heap.back(),
                    *std::max_element(heap.begin(), heap.end()) - heap.front());
    }
    std::printf("no_byte_lost=%s memory_flat=%s\n", exact ? "yes" : "no", flat ? "yes" : "no");
    Forms::destroyAll();
    return exact && flat ? 0 : 1;
}
