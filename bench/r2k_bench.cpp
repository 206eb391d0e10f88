// SPDX-License-Identifier: MIT
// How fast R2K mode types what the line delivers, seen from a recording X client: characters
// per second with the pseudo-terminal fed at full speed, and the largest delay from a byte
// written to its key event, with the bytes paced as the mode's notice recommends (>1 ms apart).
// Every run checks that the recorded text is exactly what was sent. Run under xvfb-run.
#include "Pty.h"
#include "XKeyRecorder.h"

#include "main/Forms.h"
#include "main/MessageBoxes.h"
#include "main/ModeState.h"
#include "main/Telvixmain1.h"
#include "serial/PortSettings.h"

#include <QApplication>
#include <QTimer>

#include <X11/Xlib.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = XKeyRecorder::Clock;

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

struct RunResult
{
    double charsPerSecond = 0;
    double maxLatencyMs = 0;
    bool exact = false;
};

RunResult runOnce(XKeyRecorder &recorder, Pty &pty)
{
    const QByteArray flood = sampleText(FloodChars);
    const QByteArray paced = sampleText(PacedChars);
    recorder.focus();
    recorder.clear();
    Clock::time_point floodStart;
    std::vector<Clock::time_point> pacedWritten;
    std::thread writer;
    bool started = false;

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
                while (recorder.typedCount() < FloodChars)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                for (char c : paced) {
                    std::this_thread::sleep_for(std::chrono::microseconds(2000));
                    pacedWritten.push_back(Clock::now());
                    pty.write(QByteArray(1, c));
                }
            });
            return;
        }
        if (recorder.typedCount() >= FloodChars + PacedChars) {
            timer.stop();
            ModeState::BreakRequested = 1;
        }
    });
    timer.start();
    Form1->EnableR2KModeMenubarClick();
    if (writer.joinable())
        writer.join();

    RunResult result;
    std::vector<XKeyRecorder::Key> typed;
    for (const XKeyRecorder::Key &key : recorder.keys()) {
        if (key.press && !key.text.isEmpty())
            typed.push_back(key);
    }
    QByteArray text;
    for (const XKeyRecorder::Key &key : typed)
        text += key.text;
    result.exact = text == flood + paced;
    if (typed.size() < size_t(FloodChars + PacedChars))
        return result;
    const double floodSeconds =
            std::chrono::duration<double>(typed[FloodChars - 1].seen - floodStart).count();
    result.charsPerSecond = FloodChars / floodSeconds;
    for (int i = 0; i < PacedChars; ++i) {
        const double ms = std::chrono::duration<double, std::milli>(typed[FloodChars + i].seen
                                                                    - pacedWritten[size_t(i)])
                                  .count();
        result.maxLatencyMs = std::max(result.maxLatencyMs, ms);
    }
    return result;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    XInitThreads(); // the recorder reads its connection on its own thread
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    MessageBoxes::setHook([](const MessageBoxes::Shown &shown) {
        std::fprintf(stderr, "message: %s\n", qPrintable(shown.text));
    });
    Forms::createAll();
    Form1->show();
    QApplication::processEvents();

    XKeyRecorder recorder;
    const QString why = recorder.open();
    if (!why.isEmpty()) {
        std::fprintf(stderr, "r2k_bench: %s\n", qPrintable(why));
        return 1;
    }
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();

    std::vector<double> rates, latencies;
    bool allExact = true;
    for (int run = 0; run < Runs; ++run) {
        const RunResult r = runOnce(recorder, pty);
        std::fprintf(stderr, "run %d: %.0f chars/s, max latency %.2f ms, %s\n", run + 1,
                     r.charsPerSecond, r.maxLatencyMs, r.exact ? "exact" : "TEXT DIFFERS");
        allExact = allExact && r.exact;
        rates.push_back(r.charsPerSecond);
        latencies.push_back(r.maxLatencyMs);
    }
    std::printf("r2k_chars_per_s=%.0f max_latency_ms=%.2f\n", median(rates), median(latencies));
    if (!allExact)
        std::printf("r2k_text_exact=0\n");
    Forms::destroyAll();
    return allExact ? 0 : 1;
}
