// SPDX-License-Identifier: MIT
// How fast R2K mode types what the line delivers, by each way it has to the keyboard: XTest,
// seen from a recording X client, and the desktop portal, seen from the stand-in portal of the
// tests on a bus of this benchmark's own. Characters per second with the pseudo-terminal fed
// at full speed, and the delay from a byte written to its key event with the bytes paced as
// the mode's notice recommends (>1 ms apart). The two ways run in turn, so both meet the same
// machine. Every run checks that the typed text is exactly what was sent. Run under xvfb-run.
#include "MockPortal.h"
#include "Pty.h"
#include "XKeyRecorder.h"

#include "main/Forms.h"
#include "widgets/MessageBoxes.h"
#include "session/ModeState.h"
#include "main/Telvixmain1.h"
#include "serial/PortSettings.h"

#include <QApplication>
#include <QTimer>

#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int FloodChars = 6000;
constexpr int PacedChars = 300;
constexpr int Runs = 5;

QByteArray sampleText(int count)
{
    const QByteArray pattern("The quick brown fox, 0123456789: JUMPS over {the} lazy dog?! "
                             "~@#$%^&*()_+-=[]\\|;'\",./<>` ");
    QByteArray text;
    while (text.size() < count)
        text += pattern;
    text.truncate(count);
    return text;
}

// Where the keys end up, as the benchmark reads them back.
struct KeySink
{
    const char *name;
    std::function<void()> prepare; // before each run
    std::function<int()> typedCount; // may be slow: asked from the writer's thread only
    std::chrono::milliseconds pollEvery;
    std::function<void(QByteArray &, std::vector<Clock::time_point> &)> typed;
};

struct RunResult
{
    double charsPerSecond = 0;
    double maxLatencyMs = 0;
    double medianLatencyMs = 0;
    bool exact = false;
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

RunResult runOnce(const KeySink &sink, Pty &pty)
{
    const QByteArray flood = sampleText(FloodChars);
    const QByteArray paced = sampleText(PacedChars);
    sink.prepare();
    Clock::time_point floodStart;
    std::vector<Clock::time_point> pacedWritten;
    std::thread writer;
    std::atomic<bool> allTyped {false};
    bool started = false;

    const auto waitTyped = [&](int count) {
        while (sink.typedCount() < count)
            std::this_thread::sleep_for(sink.pollEvery);
    };
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (ModeState::R2KModeActive == 0)
            return;
        if (!started) {
            started = true;
            writer = std::thread([&] {
                floodStart = Clock::now();
                pty.write(flood);
                waitTyped(FloodChars);
                for (char c : paced) {
                    std::this_thread::sleep_for(std::chrono::microseconds(2000));
                    pacedWritten.push_back(Clock::now());
                    pty.write(QByteArray(1, c));
                }
                waitTyped(FloodChars + PacedChars);
                allTyped = true;
            });
            return;
        }
        if (allTyped) {
            timer.stop();
            ModeState::BreakRequested = 1;
        }
    });
    timer.start();
    Form1->EnableR2KModeMenubarClick();
    if (writer.joinable())
        writer.join();

    RunResult result;
    QByteArray text;
    std::vector<Clock::time_point> seen;
    sink.typed(text, seen);
    result.exact = text == flood + paced;
    if (seen.size() < size_t(FloodChars + PacedChars))
        return result;
    const double floodSeconds =
            std::chrono::duration<double>(seen[FloodChars - 1] - floodStart).count();
    result.charsPerSecond = FloodChars / floodSeconds;
    std::vector<double> latencies;
    for (int i = 0; i < PacedChars; ++i) {
        latencies.push_back(std::chrono::duration<double, std::milli>(seen[size_t(FloodChars + i)]
                                                                      - pacedWritten[size_t(i)])
                                    .count());
    }
    result.maxLatencyMs = *std::max_element(latencies.begin(), latencies.end());
    result.medianLatencyMs = median(latencies);
    return result;
}

struct Figures
{
    std::vector<double> rates, maxLatencies, medianLatencies;
    bool exact = true;
};

} // namespace

int main(int argc, char **argv)
{
    XInitThreads(); // the recorder reads its connection on its own thread
    // The portal runs meet the stand-in portal on a bus of ours, never the machine's own.
    PrivateBus bus;
    if (!bus.error().isEmpty()) {
        std::fprintf(stderr, "r2k_bench: no D-Bus daemon: %s\n", qPrintable(bus.error()));
        return 1;
    }
    bus.becomeSessionBus();
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    MessageBoxes::setHook([](const MessageBoxes::Shown &shown) {
        std::fprintf(stderr, "message: %s\n", qPrintable(shown.text));
    });
    Forms::createAll();
    Form1->show();
    QApplication::processEvents();

    XKeyRecorder recorder;
    QString why = recorder.open();
    MockPortal portal(bus.address());
    if (why.isEmpty())
        why = portal.start();
    if (!why.isEmpty()) {
        std::fprintf(stderr, "r2k_bench: %s\n", qPrintable(why));
        return 1;
    }
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();

    const KeySink xtest {"xtest",
                         [&] {
                             qunsetenv("WAYLAND_DISPLAY");
                             recorder.focus();
                             recorder.clear();
                         },
                         [&] { return recorder.typedCount(); }, std::chrono::milliseconds(1),
                         [&](QByteArray &text, std::vector<Clock::time_point> &seen) {
                             for (const XKeyRecorder::Key &key : recorder.keys()) {
                                 if (key.press && !key.text.isEmpty()) {
                                     text += key.text;
                                     seen.push_back(key.seen);
                                 }
                             }
                         }};
    const KeySink desktopPortal {
            "portal",
            [&] {
                // A Wayland session as far as R2K mode can tell: it takes the portal.
                qputenv("WAYLAND_DISPLAY", "telvix-bench-no-compositor");
                portal.clearEvents();
            },
            // Each question reads back every event so far, which at 20 ms took a third of the
            // portal's speed away; the times come from the portal itself, so asking seldom
            // costs the figures nothing.
            [&] { return portal.typedCount(); }, std::chrono::milliseconds(20),
            [&](QByteArray &text, std::vector<Clock::time_point> &seen) {
                text = portal.typedText();
                for (qint64 ns : portal.typedTimes())
                    seen.push_back(Clock::time_point(std::chrono::nanoseconds(ns)));
            }};

    const KeySink *sinks[] = {&xtest, &desktopPortal};
    Figures figures[2];
    for (int run = 0; run < Runs; ++run) {
        for (int s = 0; s < 2; ++s) {
            const RunResult r = runOnce(*sinks[s], pty);
            std::fprintf(stderr,
                         "run %d %s: %.0f chars/s, latency max %.2f ms, median %.2f ms, %s\n",
                         run + 1, sinks[s]->name, r.charsPerSecond, r.maxLatencyMs,
                         r.medianLatencyMs, r.exact ? "exact" : "TEXT DIFFERS");
            figures[s].exact = figures[s].exact && r.exact;
            figures[s].rates.push_back(r.charsPerSecond);
            figures[s].maxLatencies.push_back(r.maxLatencyMs);
            figures[s].medianLatencies.push_back(r.medianLatencyMs);
        }
    }
    std::printf("r2k_chars_per_s=%.0f max_latency_ms=%.2f median_latency_ms=%.2f\n",
                median(figures[0].rates), median(figures[0].maxLatencies),
                median(figures[0].medianLatencies));
    std::printf("portal_chars_per_s=%.0f portal_max_latency_ms=%.2f "
                "portal_median_latency_ms=%.2f portal_to_xtest_rate=%.2f\n",
                median(figures[1].rates), median(figures[1].maxLatencies),
                median(figures[1].medianLatencies),
                median(figures[1].rates) / median(figures[0].rates));
    const bool allExact = figures[0].exact && figures[1].exact;
    if (!allExact)
        std::printf("r2k_text_exact=0\n");
    Forms::destroyAll();
    return allExact ? 0 : 1;
}
