// SPDX-License-Identifier: MIT
// A conversation between two others, watched: the monitor's two lines heard at once, on
// pseudo-terminals of the test's own that play the two directions of a link.
#include "GuiHelpers.h"
#include "Pty.h"

#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "modes/MonitorSession.h"
#include "serial/MonitorDialog.h"
#include "serial/SerialPort.h"
#include "session/ModeState.h"
#include "traffic/CaptureExport.h"
#include "traffic/LogFormat.h"

#include <QBuffer>
#include <QLineEdit>
#include <QTest>

#include <atomic>
#include <thread>

namespace {

QByteArray allValues()
{
    QByteArray bytes;
    for (int v = 0; v < 256; ++v)
        bytes += char(v);
    return bytes;
}

MonitorRequest monitorOf(const Pty &a, const Pty &b)
{
    MonitorRequest r;
    r.a.devicePath = a.slavePath();
    r.b.devicePath = b.slavePath();
    return r;
}

// The capture as the .log has it, a parsed line each.
QList<LogFormat::Parsed> logged()
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    CaptureExport::TextStyle style;
    style.joinGapMs = 0;
    QString error;
    CaptureExport::write(Form1->capture(), CaptureExport::Format::Log, style, buffer, &error);
    QList<LogFormat::Parsed> lines;
    for (QStringView line : QString::fromUtf8(buffer.data()).split(u'\n', Qt::SkipEmptyParts))
        if (const auto p = LogFormat::parseLogLine(line))
            lines.append(*p);
    return lines;
}

// Writes `perMs` bytes each millisecond without waiting; what the pty does not take is
// counted, as a UART drops what nobody reads.
class Flood
{
public:
    Flood(Pty &pty, qsizetype perMs, int ms)
        : m_thread([this, &pty, perMs, ms] {
              QByteArray chunk(perMs, 'x');
              for (int i = 0; i < ms && !m_stop; ++i) {
                  for (qsizetype k = 0; k < perMs; ++k)
                      chunk[k] = char((m_sent + k) & 0xFF);
                  const qsizetype n = pty.writeSome(chunk.constData(), perMs);
                  m_sent += std::max<qsizetype>(0, n);
                  m_refused += perMs - std::max<qsizetype>(0, n);
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
              m_done = true;
          })
    { }
    ~Flood()
    {
        m_stop = true;
        m_thread.join();
    }
    std::atomic<qsizetype> m_sent {0};
    std::atomic<qsizetype> m_refused {0};
    std::atomic<bool> m_done {false};

private:
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
};

} // namespace

class TestConversation : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void monitorMergesBothLinesInTimeOrder();
    void monitorHangUpOnOneSide();
    void monitorKeepsUpWithBothLinesAtOnce();
    void monitorDialog_data();
    void monitorDialog();
};

void TestConversation::monitorMergesBothLinesInTimeOrder()
{
    Pty a, b;
    MonitorRequest request = monitorOf(a, b);
    request.nameB = QStringLiteral("印表機 → 主機");
    // A question on A, its answer on B, again; then every value on each, one after the other.
    const QList<std::pair<Pty *, QByteArray>> said = {
            {&a, "Q1"}, {&b, "R1"}, {&a, "Q2"}, {&b, "R2"}, {&a, allValues()}, {&b, allValues()}};
    ModeScript script;
    for (const auto &[pty, bytes] : said)
        script.then([pty, bytes] {
            pty->write(bytes);
            QTest::qSleep(25);
        });
    script.waitFor([] { return Form1->capture().receivedBytes() == 2 * (256 + 4); }, "all of it")
            .then([] { ModeState::BreakRequested = 1; });
    script.start();
    MonitorSession(*Form1).run(request);
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QVERIFY(Form1->memo1()->toPlainText().startsWith(QStringLiteral(
            "\nA → B : Q1\n印表機 → 主機 : R1\nA → B : Q2\n印表機 → 主機 : R2\nA → B : ")));
    const QList<LogFormat::Parsed> lines = logged();
    QVERIFY(lines.size() >= 7);
    QCOMPARE(lines[0].event, QStringLiteral("SIDES"));
    for (int i = 0; i < said.size(); ++i) {
        QCOMPARE(lines[i + 1].bytes, said[i].second);
        QCOMPARE(lines[i + 1].side, said[i].first == &a ? request.nameA : request.nameB);
    }
    QCOMPARE(Form1->capture().receivedBytes(1), qint64(256 + 4));
    // Heard, never spoken to.
    QVERIFY(a.readAvailable().isEmpty());
    QVERIFY(b.readAvailable().isEmpty());
    QCOMPARE(SerialPort::openCount(), 0);
    QCOMPARE(ModeState::MonitorModeActive, uint8_t(0));
}

void TestConversation::monitorHangUpOnOneSide()
{
    Pty a, b;
    ModeScript script;
    script.then([&] { a.write("before"); })
            .waitFor([] { return Form1->capture().receivedBytes(0) == 6; }, "A's bytes")
            .then([&] { a.hangUp(); })
            .waitFor(
                    [] {
                        bool gone = false;
                        Form1->capture().forEach([&](const TrafficRecord &r) {
                            gone |= r.kind == TrafficKind::LineGone && r.side == 0;
                        });
                        return gone;
                    },
                    "A's hang-up")
            .then([&] { b.write("still"); })
            .waitFor([] { return Form1->capture().receivedBytes(1) == 5; }, "B goes on")
            .then([] { ModeState::BreakRequested = 1; });
    script.start();
    MonitorSession(*Form1).run(monitorOf(a, b));
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    const QList<LogFormat::Parsed> lines = logged();
    const auto hangUp = std::find_if(lines.begin(), lines.end(), [](const LogFormat::Parsed &p) {
        return p.event == u"HANGUP";
    });
    QVERIFY(hangUp != lines.end());
    QCOMPARE(hangUp->side, QStringLiteral("A → B"));
    const auto after = std::find_if(hangUp, lines.end(), [](const LogFormat::Parsed &p) {
        return p.kind == TrafficKind::Received;
    });
    QVERIFY(after != lines.end());
    QCOMPARE(after->bytes, QByteArray("still"));
    QCOMPARE(after->side, QStringLiteral("B → A"));
    // The end of the conversation ends the names.
    QCOMPARE(lines.last().event, QStringLiteral("SIDES"));
}

void TestConversation::monitorKeepsUpWithBothLinesAtOnce()
{
    // 1.2 MB/s on each line for ten seconds, both at once: nothing refused, nothing lost.
    Pty a, b;
    constexpr int Ms = 10000;
    std::unique_ptr<Flood> floodA, floodB;
    ModeScript script;
    script.then([&] {
              floodA = std::make_unique<Flood>(a, 1200, Ms);
              floodB = std::make_unique<Flood>(b, 1200, Ms);
          })
            .waitFor([&] { return floodA->m_done && floodB->m_done; }, "the floods", Ms * 3)
            .waitFor(
                    [&] {
                        return Form1->capture().receivedBytes(0) == floodA->m_sent
                                && Form1->capture().receivedBytes(1) == floodB->m_sent;
                    },
                    "everything read", 10000)
            .then([] { ModeState::BreakRequested = 1; });
    script.start();
    MonitorSession(*Form1).run(monitorOf(a, b));
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QCOMPARE(floodA->m_refused.load() + floodB->m_refused.load(), 0);
    QVERIFY(floodA->m_sent >= 1200 * Ms / 2);
    // In order on each line, whatever the merge did with the other.
    QByteArray onA;
    Form1->capture().forEach([&](const TrafficRecord &r) {
        if (r.kind == TrafficKind::Received && r.side == 0)
            onA += r.bytes;
    });
    for (qsizetype i = 0; i < onA.size(); i += 4099)
        QCOMPARE(uint8_t(onA[i]), uint8_t(i & 0xFF));
}

void TestConversation::monitorDialog_data()
{
    QTest::addColumn<QString>("pathA");
    QTest::addColumn<QString>("pathB");
    QTest::addColumn<QString>("problem");
    QTest::newRow("two ports") << "/dev/pts/90"
                               << "/dev/pts/91"
                               << "";
    QTest::newRow("the same port twice") << "/dev/pts/90"
                                         << "/dev/pts/90"
                                         << "埠 A 與埠 B 是同一個埠 /dev/pts/90";
    QTest::newRow("no number for B") << "/dev/pts/90"
                                     << ""
                                     << "埠 B : com 編號「x」不是正整數";
}

void TestConversation::monitorDialog()
{
    QFETCH(QString, pathA);
    QFETCH(QString, pathB);
    QFETCH(QString, problem);
    PortSettings::BaudRate = 19200;
    PortSettings::Parity = serial::Parity::Even;
    MonitorDialog dialog;
    dialog.reset(PortSettings::current());
    dialog.findChild<QLineEdit *>(QStringLiteral("MonitorPathAEdit"))->setText(pathA);
    dialog.findChild<QLineEdit *>(QStringLiteral("MonitorPathBEdit"))->setText(pathB);
    dialog.findChild<QLineEdit *>(QStringLiteral("MonitorPortBEdit"))->setText(QStringLiteral("x"));
    QString why;
    const std::optional<MonitorDialog::Values> v = dialog.values(&why);
    QCOMPARE(why, problem);
    if (!problem.isEmpty())
        return;
    // B takes A's parameters; neither holds its line back (that would be writing to it).
    QCOMPARE(v->b.baudRate, 19200);
    QCOMPARE(int(v->b.parity), int(serial::Parity::Even));
    QCOMPARE(int(v->a.flow), int(serial::FlowControl::None));
    QCOMPARE(v->nameA, QStringLiteral("A → B"));
}

QTEST_MAIN(TestConversation)
#include "tst_conversation.moc"
