// SPDX-License-Identifier: MIT
// The line controls and their watcher through the kernel's calls on a real pseudo-terminal,
// which the fakelines interposer gives the handshake lines, counters and break of a UART.
#include "FakeLines.h"
#include "Pty.h"
#include "traffic/LineEvents.h"
#include "serial/LineControl.h"
#include "serial/LineWatcher.h"
#include "serial/SerialLine.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

using serial::ErrorCounts;
using serial::LineWatcher;
using serial::ModemLine;

namespace {

// What a watcher publishes, gathered from its threads.
class Records
{
public:
    LineWatcher::Publish publisher()
    {
        return [this](TrafficRecord r) {
            const std::lock_guard lock(m_mutex);
            m_records.push_back(std::move(r));
            m_changed.notify_all();
        };
    }
    std::vector<TrafficRecord> of(TrafficKind kind) const
    {
        const std::lock_guard lock(m_mutex);
        std::vector<TrafficRecord> out;
        for (const TrafficRecord &r : m_records)
            if (r.kind == kind)
                out.push_back(r);
        return out;
    }
    // Waits until `count` records of `kind` are in; false after `timeoutMs`.
    bool waitFor(TrafficKind kind, size_t count, int timeoutMs = 2000)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            size_t n = 0;
            for (const TrafficRecord &r : m_records)
                n += r.kind == kind ? 1 : 0;
            return n >= count;
        });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<TrafficRecord> m_records;
};

LineEvents::ModemChange changeOf(const TrafficRecord &record)
{
    return LineEvents::modemChangeOf(record).value_or(LineEvents::ModemChange {0xff, 0xff});
}

} // namespace

class LineControlTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void outputsSetAndReadBack();
    void inputsAppear_data();
    void inputsAppear();
    void loopbackPlugWithBrokenPair();
    void counters();
    void breakHeldForItsDuration();
    void refusedCalls_data();
    void refusedCalls();
    void plainPtyHasNoLines();

    void lampsFollowChanges();
    void shortPulseSeenByWaiting();
    void stopWhileWaiting();
    void pollingWhereWaitingIsRefused();
    void countsSinceStart();
    void refusedLinesDoNotFlood();
    void goneDeviceStopsPolling();
    void farEndInAnotherProcess();

    void injectedBytesReadFirst();

private:
    std::optional<Pty> m_pty;
    std::optional<FakeLines> m_fake;
    int m_fd = -1;
    std::unique_ptr<serial::LineControl> m_control;
};

void LineControlTest::initTestCase()
{
    const FakeLines probe;
    if (!FakeLines::active())
        QSKIP("fakelines interposer not preloaded: run this test through ctest");
}

void LineControlTest::init()
{
    m_fake.emplace();
    QVERIFY(m_fake->isValid());
    m_pty.emplace();
    QVERIFY(m_pty->isOpen());
    const serial::OpenResult opened = serial::openPort(m_pty->slavePath().toStdString());
    QVERIFY(opened.fd >= 0);
    m_fd = opened.fd;
    m_control = serial::kernelLineControl(m_fd);
}

void LineControlTest::cleanup()
{
    m_control.reset();
    if (m_fd >= 0)
        serial::closePort(m_fd);
    m_fd = -1;
    m_pty.reset();
    m_fake.reset();
}

void LineControlTest::outputsSetAndReadBack()
{
    QVERIFY(m_control->setLine(serial::Dtr, true));
    QCOMPARE(m_fake->outputs(), uint8_t(serial::Dtr));
    QVERIFY(m_control->setLine(serial::Rts, true));
    QVERIFY(m_control->setLine(serial::Dtr, false));
    QCOMPARE(m_fake->outputs(), uint8_t(serial::Rts));
    uint8_t lines = 0xff;
    QVERIFY(m_control->modemLines(lines));
    QCOMPARE(lines, uint8_t(serial::Rts));

    // Only the outputs can be driven.
    for (ModemLine input : {serial::Cts, serial::Dsr, serial::Dcd, serial::Ri}) {
        errno = 0;
        QVERIFY(!m_control->setLine(input, true));
        QCOMPARE(errno, EINVAL);
    }
    QCOMPARE(m_fake->outputs(), uint8_t(serial::Rts));
}

void LineControlTest::inputsAppear_data()
{
    QTest::addColumn<uint8_t>("inputs");
    QTest::newRow("none") << uint8_t(0);
    QTest::newRow("CTS") << uint8_t(serial::Cts);
    QTest::newRow("DSR") << uint8_t(serial::Dsr);
    QTest::newRow("DCD") << uint8_t(serial::Dcd);
    QTest::newRow("RI") << uint8_t(serial::Ri);
    QTest::newRow("all four") << serial::InputLines;
}

void LineControlTest::inputsAppear()
{
    QFETCH(uint8_t, inputs);
    QVERIFY(m_control->setLine(serial::Dtr, true));
    m_fake->setInputs(inputs);
    uint8_t lines = 0;
    QVERIFY(m_control->modemLines(lines));
    QCOMPARE(lines, uint8_t(inputs | serial::Dtr));
}

void LineControlTest::loopbackPlugWithBrokenPair()
{
    // RTS→CTS and DTR→DSR wired, the DCD wire broken; what the far end drives on CTS is
    // overridden by the loop.
    m_fake->setWiring(FakeLines::RtsToCts | FakeLines::DtrToDsr);
    m_fake->setInputs(serial::Cts);
    uint8_t lines = 0xff;
    QVERIFY(m_control->modemLines(lines));
    QCOMPARE(lines, uint8_t(0));
    QVERIFY(m_control->setLine(serial::Rts, true));
    QVERIFY(m_control->setLine(serial::Dtr, true));
    QVERIFY(m_control->modemLines(lines));
    QCOMPARE(lines, uint8_t(serial::Rts | serial::Cts | serial::Dtr | serial::Dsr));
    QVERIFY(m_control->setLine(serial::Dtr, false));
    QVERIFY(m_control->modemLines(lines));
    QCOMPARE(lines, uint8_t(serial::Rts | serial::Cts));
}

void LineControlTest::counters()
{
    ErrorCounts counts;
    QVERIFY(m_control->errorCounts(counts));
    QCOMPARE(counts, ErrorCounts {});
    m_fake->addErrors({1, 2, 3, 4, 5});
    m_fake->addErrors({0, 1, 0, 0, 0});
    QVERIFY(m_control->errorCounts(counts));
    QCOMPARE(counts, (ErrorCounts {1, 3, 3, 4, 5}));
}

void LineControlTest::breakHeldForItsDuration()
{
    QElapsedTimer timer;
    timer.start();
    QVERIFY(m_control->sendBreak(250));
    QVERIFY(timer.elapsed() >= 250);
    const FakeLines::BreakRecord sent = m_fake->breaks();
    QCOMPARE(sent.count, 1u);
    QVERIFY(!sent.on);
    QVERIFY2(sent.lastMs >= 250 && sent.lastMs < 2000, QByteArray::number(sent.lastMs));

    errno = 0;
    QVERIFY(!m_control->sendBreak(-1));
    QCOMPARE(errno, EINVAL);
    QCOMPARE(m_fake->breaks().count, 1u);
}

void LineControlTest::refusedCalls_data()
{
    QTest::addColumn<uint32_t>("refused");
    QTest::newRow("TIOCMGET") << uint32_t(FakeLines::ModemGet);
    QTest::newRow("TIOCMBIS/TIOCMBIC") << uint32_t(FakeLines::ModemSet);
    QTest::newRow("TIOCMIWAIT") << uint32_t(FakeLines::WaitForChange);
    QTest::newRow("TIOCGICOUNT") << uint32_t(FakeLines::Counts);
    QTest::newRow("break") << uint32_t(FakeLines::Break);
}

void LineControlTest::refusedCalls()
{
    QFETCH(uint32_t, refused);
    m_fake->setRefused(refused);
    uint8_t lines = 0;
    ErrorCounts counts;
    const auto check = [&](uint32_t call, bool ok) {
        if (refused == call) {
            QVERIFY(!ok);
            QCOMPARE(errno, ENOTTY);
        } else {
            QVERIFY(ok);
        }
    };
    errno = 0;
    check(FakeLines::ModemGet, m_control->modemLines(lines));
    errno = 0;
    check(FakeLines::ModemSet, m_control->setLine(serial::Rts, true));
    errno = 0;
    check(FakeLines::Counts, m_control->errorCounts(counts));
    errno = 0;
    check(FakeLines::Break, m_control->sendBreak(1));
    if (refused == FakeLines::WaitForChange) {
        errno = 0;
        QVERIFY(!m_control->waitForChange(serial::InputLines));
        QCOMPARE(errno, ENOTTY);
    }
    // A refused break must not leave the line in break.
    QVERIFY(!m_fake->breaks().on);
}

void LineControlTest::plainPtyHasNoLines()
{
    m_fake.reset(); // TELVIX_FAKELINES unset: the pty as the kernel has it
    uint8_t lines = 0;
    errno = 0;
    QVERIFY(!m_control->modemLines(lines));
    QCOMPARE(errno, ENOTTY);
    QVERIFY(!m_control->waitForChange(serial::InputLines)); // refused, not blocking
    ErrorCounts counts;
    QVERIFY(!m_control->errorCounts(counts));

    Records records;
    LineWatcher watcher(*m_control, records.publisher());
    watcher.start();
    QTest::qWait(3 * LineWatcher::PollMs);
    QVERIFY(!watcher.linesKnown());
    QVERIFY(!watcher.countsKnown());
    QVERIFY(!watcher.waitsForChanges());
    QVERIFY(records.of(TrafficKind::ModemLines).empty());
    watcher.stop();
}

void LineControlTest::lampsFollowChanges()
{
    m_fake->setInputs(serial::Dsr);
    Records records;
    LineWatcher watcher(*m_control, records.publisher());
    watcher.start();
    QVERIFY(watcher.isRunning());
    QVERIFY(watcher.linesKnown());
    // The first record goes out at once, with nothing changed.
    QCOMPARE(records.of(TrafficKind::ModemLines).size(), size_t(1));
    QCOMPARE(changeOf(records.of(TrafficKind::ModemLines)[0]).lines, uint8_t(serial::Dsr));
    QCOMPARE(changeOf(records.of(TrafficKind::ModemLines)[0]).changed, uint8_t(0));

    m_fake->setInputs(serial::Dsr | serial::Cts);
    QVERIFY(records.waitFor(TrafficKind::ModemLines, 2));
    LineEvents::ModemChange c = changeOf(records.of(TrafficKind::ModemLines)[1]);
    QCOMPARE(c.lines, uint8_t(serial::Dsr | serial::Cts));
    QCOMPARE(c.changed, uint8_t(serial::Cts));
    QCOMPARE(watcher.lines(), uint8_t(serial::Dsr | serial::Cts));

    // An output the port sets shows as well (polled: no wait returns for it).
    QVERIFY(m_control->setLine(serial::Dtr, true));
    QVERIFY(records.waitFor(TrafficKind::ModemLines, 3));
    c = changeOf(records.of(TrafficKind::ModemLines)[2]);
    QCOMPARE(c.changed, uint8_t(serial::Dtr));
    QVERIFY(c.lines & serial::Dtr);

    watcher.stop();
    QVERIFY(!watcher.isRunning());
    const size_t count = records.of(TrafficKind::ModemLines).size();
    m_fake->setInputs(0);
    QTest::qWait(2 * LineWatcher::PollMs);
    QCOMPARE(records.of(TrafficKind::ModemLines).size(), count);
}

void LineControlTest::shortPulseSeenByWaiting()
{
    Records records;
    LineWatcher watcher(*m_control, records.publisher());
    watcher.start();
    QVERIFY(watcher.waitsForChanges());
    QTest::qWait(20); // the waiter is in TIOCMIWAIT
    const int64_t before = monotonicMicroseconds();
    m_fake->setInput(serial::Dcd, true);
    QTest::qSleep(4);
    m_fake->setInput(serial::Dcd, false);
    QVERIFY(records.waitFor(TrafficKind::ModemLines, 3, 1000));
    const auto lineRecords = records.of(TrafficKind::ModemLines);
    const LineEvents::ModemChange on = changeOf(lineRecords[1]);
    const LineEvents::ModemChange off = changeOf(lineRecords[2]);
    QCOMPARE(on.changed, uint8_t(serial::Dcd));
    QCOMPARE(on.lines, uint8_t(serial::Dcd));
    QCOMPARE(off.changed, uint8_t(serial::Dcd));
    QCOMPARE(off.lines, uint8_t(0));
    // Seen at its moment, well inside one polling period.
    QVERIFY(lineRecords[1].timeUs - before < LineWatcher::PollMs * 1000);
    QVERIFY(lineRecords[2].timeUs - lineRecords[1].timeUs < LineWatcher::PollMs * 1000);
    QVERIFY(watcher.waitsForChanges());
}

void LineControlTest::stopWhileWaiting()
{
    Records records;
    LineWatcher watcher(*m_control, records.publisher());
    for (int round = 0; round < 10; ++round) {
        watcher.start();
        QVERIFY(watcher.waitsForChanges());
        // Stopping at once catches the waiter before its ioctl too; later it is inside.
        if (round % 2)
            QTest::qSleep(10);
        QElapsedTimer timer;
        timer.start();
        watcher.stop();
        QVERIFY2(timer.elapsed() < 500, QByteArray::number(timer.elapsed()));
        QVERIFY(!watcher.isRunning());
    }
}

void LineControlTest::pollingWhereWaitingIsRefused()
{
    m_fake->setRefused(FakeLines::WaitForChange);
    Records records;
    LineWatcher watcher(*m_control, records.publisher());
    watcher.start();
    QTRY_VERIFY_WITH_TIMEOUT(!watcher.waitsForChanges(), 1000);
    QVERIFY(watcher.linesKnown());
    m_fake->setInput(serial::Ri, true);
    QVERIFY(records.waitFor(TrafficKind::ModemLines, 2));
    QCOMPARE(changeOf(records.of(TrafficKind::ModemLines)[1]).changed, uint8_t(serial::Ri));
    watcher.stop();
}

void LineControlTest::countsSinceStart()
{
    m_fake->addErrors({7, 7, 7, 7, 7}); // before the mode: not its errors
    Records records;
    LineWatcher watcher(*m_control, records.publisher());
    watcher.start();
    QVERIFY(watcher.countsKnown());
    QTest::qWait(2 * LineWatcher::PollMs);
    QVERIFY(records.of(TrafficKind::LineErrors).empty());

    m_fake->addErrors({1, 2, 0, 0, 0});
    QVERIFY(records.waitFor(TrafficKind::LineErrors, 1));
    m_fake->addErrors({0, 0, 1, 0, 1});
    QVERIFY(records.waitFor(TrafficKind::LineErrors, 2));
    const auto errors = records.of(TrafficKind::LineErrors);
    QCOMPARE(LineEvents::errorCountsOf(errors[0]), std::optional(ErrorCounts {1, 2, 0, 0, 0}));
    QCOMPARE(LineEvents::errorCountsOf(errors[1]), std::optional(ErrorCounts {1, 2, 1, 0, 1}));
    QCOMPARE(watcher.counts(), (ErrorCounts {1, 2, 1, 0, 1}));
    watcher.stop();

    // A new start counts from there.
    watcher.start();
    QCOMPARE(watcher.counts(), ErrorCounts {});
    watcher.stop();
}

void LineControlTest::refusedLinesDoNotFlood()
{
    m_fake->setRefused(FakeLines::ModemGet | FakeLines::Counts);
    Records records;
    LineWatcher watcher(*m_control, records.publisher());
    watcher.start();
    m_fake->setInputs(serial::Cts);
    QTest::qWait(4 * LineWatcher::PollMs);
    QVERIFY(!watcher.linesKnown());
    QVERIFY(!watcher.countsKnown());
    QVERIFY(!watcher.waitsForChanges());
    QVERIFY(records.of(TrafficKind::ModemLines).empty());
    QVERIFY(records.of(TrafficKind::LineErrors).empty());
    watcher.stop();
}

void LineControlTest::goneDeviceStopsPolling()
{
    Records records;
    LineWatcher watcher(*m_control, records.publisher());
    watcher.start();
    QVERIFY(watcher.linesKnown());
    QTest::qWait(20);
    // The device goes away: every call fails with EIO, the waiter's too.
    m_fake->setRefused(FakeLines::ModemGet | FakeLines::WaitForChange | FakeLines::Counts, EIO);
    QTRY_VERIFY_WITH_TIMEOUT(!watcher.linesKnown() && !watcher.countsKnown(), 1000);
    QTRY_VERIFY_WITH_TIMEOUT(!watcher.waitsForChanges(), 1000);
    const size_t count = records.of(TrafficKind::ModemLines).size();
    m_fake->setInputs(serial::Dsr);
    QTest::qWait(3 * LineWatcher::PollMs);
    QCOMPARE(records.of(TrafficKind::ModemLines).size(), count);
    QElapsedTimer timer;
    timer.start();
    watcher.stop();
    QVERIFY(timer.elapsed() < 500);
}

void LineControlTest::farEndInAnotherProcess()
{
    Records records;
    LineWatcher watcher(*m_control, records.publisher());
    watcher.start();
    QVERIFY(watcher.waitsForChanges());
    QTest::qWait(20); // the waiter blocks before the other process changes the lines
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {"--set-inputs", m_fake->path(), QString::number(serial::Cts | serial::Dcd)});
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitCode(), 0);
    QVERIFY(records.waitFor(TrafficKind::ModemLines, 2));
    const LineEvents::ModemChange c = changeOf(records.of(TrafficKind::ModemLines)[1]);
    QCOMPARE(c.lines, uint8_t(serial::Cts | serial::Dcd));
    QCOMPARE(c.changed, uint8_t(serial::Cts | serial::Dcd));
    watcher.stop();
}

void LineControlTest::injectedBytesReadFirst()
{
    // A byte with a parity error as PARMRK marks it; a pty cannot make one.
    QVERIFY(m_fake->inject(QByteArray::fromHex("ff0041")));
    QVERIFY(m_pty->write("B"));
    QVERIFY(serial::waitReadable(m_fd, 1000));
    QByteArray got;
    uint8_t buffer[64];
    for (int i = 0; i < 4 && got.size() < 4 && serial::waitReadable(m_fd, 1000); ++i) {
        size_t n = 0;
        QCOMPARE(serial::readBytes(m_fd, buffer, sizeof buffer, n), serial::ReadStatus::Byte);
        got.append(reinterpret_cast<const char *>(buffer), qsizetype(n));
    }
    QCOMPARE(got, QByteArray::fromHex("ff004142"));
    QCOMPARE(m_fake->injectedLeft(), qsizetype(0));
}

// The far end as a process of its own: sets the input lines in the state file and leaves.
int setInputs(const char *path, const char *lines)
{
    FakeLines far(QString::fromLocal8Bit(path));
    if (!far.isValid())
        return 1;
    far.setInputs(uint8_t(std::atoi(lines)));
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--set-inputs") == 0)
        return setInputs(argv[2], argv[3]);
    QCoreApplication app(argc, argv);
    LineControlTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_linecontrol.moc"
