// SPDX-License-Identifier: MIT
// Draws the pictures of the README and the AppStream file: the real forms, made as the program
// makes them, in the fonts it uses. The program itself takes no options, so the pictures come
// from this separate one; tools/screenshot.sh runs it under Xvfb.
//
//   telvix_screenshot <folder> [<stream port> [<echo port>]]
//   writes telvix-main.png, telvix-find.png, telvix-port-dialog.png, telvix-settings.png,
//   telvix-message.png, and with a simulated device streaming on <stream port>
//   telvix-line-panel.png (a receive session with the line panel and the status bar's
//   counters), with an echoing one on <echo port> telvix-self-test.png and telvix-commands.png
//   (the command panel in terminal mode), telvix-modbus.png (Modbus frames, monitored), and
//   telvix-monitor.png (a monitored conversation, on
//   pseudo-terminals of its own)
#include "TForm1Controls.h"
#include "TForm6Controls.h"
#include "main/CommandPanel.h"
#include "main/FindBar.h"
#include "main/Forms.h"
#include "main/LinePanel.h"
#include "main/Telvixmain1.h"
#include "main/Translations.h"
#include "modes/MonitorSession.h"
#include "send/SendTexts.h"
#include "serial/SerialPort.h"
#include "serial/Telvixmain2.h"
#include "session/ModeState.h"
#include "session/ReceivedDisplay.h"
#include "settings/Telvixmain6.h"
#include "traffic/Checksum.h"
#include "traffic/Cp950.h"
#include "traffic/TrafficCapture.h"
#include "widgets/Fonts.h"
#include "widgets/MessageBoxes.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <span>
#include <unistd.h>

namespace {

// What a receive session with a GPS receiver and a device greeting in Big5 leaves on the
// display: the real formatter turns the bytes into the text, control codes named.
QByteArray sampleTraffic()
{
    QByteArray bytes = Cp950::encode(QStringLiteral("溫度記錄器 就緒")).value_or(QByteArray());
    bytes += "\r\n";
    bytes += "$GPGGA,092750.000,2503.0345,N,12133.8342,E,1,8,1.03,61.7,M,15.2,M,,*6E\r\n";
    bytes += "$GPRMC,092750.000,A,2503.0345,N,12133.8342,E,0.02,31.66,060904,,,A*58\r\n";
    bytes += "T=23.5";
    bytes += '\t';
    bytes += "RH=61";
    bytes += '\x06';
    bytes += "\r\n";
    return bytes;
}

// Lets the windows be mapped, laid out and painted before they are grabbed.
void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool save(QWidget *w, const QDir &dir, const char *name)
{
    w->show();
    w->raise();
    w->activateWindow();
    settle(400);
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (!w->grab().save(path, "PNG")) {
        std::fprintf(stderr, "telvix_screenshot: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(path), w->width(), w->height());
    return true;
}

// The lines of a device that has answered the handshake: the picture of the line panel shows
// lamps lit and counters that counted, which no pseudo-terminal has.
class PictureLines : public serial::LineControl
{
public:
    bool modemLines(uint8_t &lines) override
    {
        lines = m_outputs | serial::Cts | serial::Dsr;
        return true;
    }
    bool setLine(serial::ModemLine line, bool on) override
    {
        m_outputs = on ? (m_outputs | line) : (m_outputs & ~line);
        return true;
    }
    bool waitForChange(uint8_t) override
    {
        errno = ENOTTY;
        return false;
    }
    bool errorCounts(serial::ErrorCounts &counts) override
    {
        counts = m_counts;
        m_counts = {0, 2, 0, 0, 1}; // grown since the watcher's start
        return true;
    }
    bool sendBreak(int) override { return true; }

private:
    uint8_t m_outputs = serial::Dtr | serial::Rts;
    serial::ErrorCounts m_counts;
};

// Starts a mode and, once `ready` holds (10 s at most), runs `during` and ends the mode. The
// mode's loop holds the window meanwhile, so the checks come from a timer, never from a loop
// of their own that would hold the mode's opening.
template<typename Start, typename Ready, typename During>
void whileModeRuns(Start start, Ready ready, During during)
{
    QTimer poll;
    QElapsedTimer t;
    t.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!ready() && t.elapsed() < 10000)
            return;
        poll.stop();
        settle(300);
        during();
        TForm1Controls(Form1).BreakButton->click();
    });
    poll.start(50);
    start();
}

// A monitored conversation, each direction played on a pseudo-terminal of the picture's own:
// what `said` holds is written, a piece each poll, to the side it names, and the window saved
// once all of it is shown.
bool monitorPicture(const QString &nameA, const QString &nameB,
                    std::span<const std::pair<int, QByteArray>> said, const QDir &dir,
                    const char *file)
{
    int masters[2] = {-1, -1};
    char names[2][128] = {};
    for (int i = 0; i < 2; ++i) {
        int slave = -1;
        if (openpty(&masters[i], &slave, names[i], nullptr, nullptr) == 0)
            ::close(slave);
    }
    bool ok = masters[0] >= 0 && masters[1] >= 0;
    if (ok) {
        MonitorRequest request;
        request.a.devicePath = QString::fromLocal8Bit(names[0]);
        request.b.devicePath = QString::fromLocal8Bit(names[1]);
        request.nameA = nameA;
        request.nameB = nameB;
        size_t next = 0;
        int64_t written = 0;
        whileModeRuns([&] { MonitorSession(*Form1).run(request); },
                      [&] {
                          if (next < said.size()) {
                              const auto &[side, bytes] = said[next++];
                              written += bytes.size();
                              if (::write(masters[side], bytes.constData(), size_t(bytes.size()))
                                  < 0)
                                  next = said.size();
                              return false;
                          }
                          return Form1->capture().receivedBytes() >= written;
                      },
                      [&] { ok = save(Form1, dir, file); });
    }
    for (int m : masters)
        if (m >= 0)
            ::close(m);
    return ok;
}

// The port dialog confirmed with `path` in its device-path row.
void usePort(const QString &path)
{
    QTimer::singleShot(0, [path] {
        if (auto *edit = Form2->findChild<QLineEdit *>(QStringLiteral("DevicePathEdit")))
            edit->setText(path);
        if (auto *okButton = Form2->findChild<QPushButton *>(QStringLiteral("BitBtn1")))
            okButton->click();
    });
    TForm1Controls(Form1).RS232ConfigMenuBar->trigger();
}

// Lets the window run until `done` holds, 10 s at most.
template<typename Done>
void settleUntil(Done done)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000 && !done())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The settings dialog confirmed with the status bar's byte counters on.
void showCounters()
{
    QTimer::singleShot(0, [] {
        const TForm6Controls s(Form6);
        s.Counters_CheckBox->setChecked(true);
        s.BitBtn1->click();
    });
    TForm1Controls(Form1).MiscMenuBar->trigger();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: telvix_screenshot <folder> [<stream port> [<echo port>]]\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TELVIX"));
    Fonts::installSubstitutions();
    Translations::install();
    QApplication::setFont(Fonts::ming());
    const QDir dir(QString::fromLocal8Bit(argv[1]));

    Forms::createAll();
    {
        // Received as a receiving mode takes it: one pass through the window's traffic stream.
        ReceivedDisplay display(*Form1);
        Form1->traffic().subscribe(&display);
        Form1->traffic().publish({TrafficKind::Received, monotonicMicroseconds(), sampleTraffic()});
        Form1->traffic().passEnd();
        Form1->traffic().unsubscribe(&display);
        display.finish();
    }
    bool ok = save(Form1, dir, "telvix-main.png");
    {
        // Find, with a match marked.
        auto *bar = Form1->findChild<FindBar *>();
        if (bar)
            bar->open();
        if (auto *edit = Form1->findChild<QLineEdit *>(QStringLiteral("FindEdit")))
            edit->setText(QStringLiteral("GPRMC"));
        if (bar)
            bar->findNext();
        settle(300);
        ok = save(Form1, dir, "telvix-find.png") && ok;
        if (bar)
            bar->close();
    }
    ok = save(Form2, dir, "telvix-port-dialog.png") && ok;
    Form2->hide();
    ok = save(Form6, dir, "telvix-settings.png") && ok;
    Form6->hide();
    {
        // The summary at the end of a file send: the longest box the program shows.
        const std::unique_ptr<QMessageBox> box = MessageBoxes::build(
                MessageBoxes::Kind::Plain, Form1,
                SendTexts::fileSummary(QStringLiteral("/home/tech/韌體/update-v2.bin"), 48213,
                                       48213, false));
        ok = save(box.get(), dir, "telvix-message.png") && ok;
    }
    if (argc >= 3) {
        // A receive session on a simulated device with a long name, the line panel shown and
        // the byte counters on. A pseudo-terminal has no handshake lines: the lamps are lit by
        // a stand-in for the driver's line control, the bytes are the device's own.
        SerialPort::setControlFactory([](int) { return std::make_unique<PictureLines>(); });
        usePort(QString::fromLocal8Bit(argv[2]));
        showCounters();
        TForm1Controls(Form1).LinePanelMenuBar->trigger();
        whileModeRuns([] { TForm1Controls(Form1).ReceiveButton->click(); },
                      [] { return Form1->capture().receivedBytes() > 600; },
                      [&] { ok = save(Form1, dir, "telvix-line-panel.png") && ok; });
        TForm1Controls(Form1).LinePanelMenuBar->trigger();
        SerialPort::setControlFactory({});
    }
    if (argc >= 4) {
        // The self-test against an echoing device: its bytes pass, its lines cannot be tested.
        usePort(QString::fromLocal8Bit(argv[3]));
        QTimer::singleShot(0, [&] {
            auto *dialog = QApplication::activeModalWidget();
            if (!dialog)
                return;
            auto *start = dialog->findChild<QPushButton *>(QStringLiteral("startButton"));
            if (start)
                start->click();
            settleUntil([start] { return !start || start->isEnabled(); });
            ok = save(dialog, dir, "telvix-self-test.png") && ok;
            dialog->findChild<QPushButton *>(QStringLiteral("closeButton"))->click();
        });
        TForm1Controls(Form1).SelfTestMenuBar->trigger();

        // The command panel in terminal mode on the echoing device, in the HEX form: a Modbus
        // read request with its CRC sent once and echoed.
        TForm1Controls(Form1).HexModeMenuBar->trigger();
        TForm1Controls(Form1).CommandPanelMenuBar->trigger();
        CommandPanel *panel = Form1->commandPanel();
        CommandList::Command read;
        read.name = QStringLiteral("讀取保持暫存器");
        read.hex = true;
        read.content = QStringLiteral("01 03 00 00 00 0A");
        read.check = Checksum::Kind::Crc16Modbus;
        read.key = QStringLiteral("F2");
        CommandList::Command at;
        at.name = QStringLiteral("版本");
        at.content = QStringLiteral("ATI");
        at.ending = CommandList::Ending::CrLf;
        at.key = QStringLiteral("Ctrl+1");
        CommandList::Command beat;
        beat.name = QStringLiteral("心跳");
        beat.hex = true;
        beat.content = QStringLiteral("02 30 03");
        beat.check = Checksum::Kind::Xor8;
        beat.checkFrom = 1;
        beat.repeatMs = 1000;
        panel->setCommands({read, at, beat});
        whileModeRuns([] { TForm1Controls(Form1).EnableTRModeButton->click(); },
                      [panel] {
                          static bool sent = false;
                          if (!sent && ModeState::TRModeActive) {
                              sent = true;
                              panel->fire(0);
                          }
                          return Form1->capture().receivedBytes() >= 8;
                      },
                      [&] { ok = save(Form1, dir, "telvix-commands.png") && ok; });
        TForm1Controls(Form1).CommandPanelMenuBar->trigger();
    }
    {
        // The monitor between a point-of-sale program and its receipt printer, in the ASCII
        // form with line stamps.
        TForm1Controls(Form1).ASCIIModeMenuBar->trigger();
        const std::pair<int, QByteArray> said[] = {
                {0, "\x10\x04\x01"}, {1, "\x16"}, {0, "\x1b@TOTAL  NT$ 250\r\n"},
                {0, "\x1dV\x00"},    {1, "\x12"}, {0, "\x10\x04\x04"},
                {1, "\x12"}};
        ok = monitorPicture(QStringLiteral("收銀機 → 印表機"), QStringLiteral("印表機 → 收銀機"),
                            said, dir, "telvix-monitor.png")
                && ok;
    }
    {
        // Modbus RTU frames on a monitored RS-485 link: a panel polls a drive, writes a
        // register, and one reply comes with its check wrong.
        QTimer::singleShot(0, [] {
            const TForm6Controls s(Form6);
            s.ModbusRtu_Radio->setChecked(true);
            s.BitBtn1->click();
        });
        TForm1Controls(Form1).MiscMenuBar->trigger();
        TForm1Controls(Form1).ClearDataMenubar->trigger();
        const auto frame = [](const char *hex) {
            return Checksum::append(Checksum::Kind::Crc16Modbus, QByteArray::fromHex(hex)).bytes;
        };
        QByteArray wrong = frame("01030400C80FA0");
        wrong[wrong.size() - 1] = char(wrong.back() ^ 0x10);
        const std::pair<int, QByteArray> said[] = {
                {0, frame("010300000002")}, {1, frame("01030400C80FA0")},
                {0, frame("010600100064")}, {1, frame("010600100064")},
                {0, frame("010300000002")}, {1, wrong},
                {0, frame("010300000002")}, {1, frame("018302")}};
        ok = monitorPicture(QStringLiteral("面板 → 變頻器"), QStringLiteral("變頻器 → 面板"), said,
                            dir, "telvix-modbus.png")
                && ok;
    }
    Forms::destroyAll();
    return ok ? 0 : 1;
}
