// SPDX-License-Identifier: MIT
// Draws the pictures of the README and the AppStream file: the real forms, made as the program
// makes them, in the fonts it uses. The program itself takes no options, so the pictures come
// from this separate one; tools/screenshot.sh runs it under Xvfb.
//
//   telvix_screenshot <folder>   writes telvix-main.png, telvix-port-dialog.png,
//   telvix-settings.png, telvix-message.png, telvix-line-panel.png
#include "traffic/Cp950.h"
#include "widgets/Fonts.h"
#include "main/Translations.h"
#include "main/Forms.h"
#include "widgets/MessageBoxes.h"
#include "main/LinePanel.h"
#include "main/Telvixmain1.h"
#include "serial/SerialPort.h"
#include "session/ReceivedDisplay.h"
#include "TForm1Controls.h"
#include "send/SendTexts.h"
#include "serial/Telvixmain2.h"
#include "settings/Telvixmain6.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPixmap>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
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

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: telvix_screenshot <folder>\n");
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
    {
        // The line panel on a port a mode has open.
        SerialPort::setControlFactory([](int) { return std::make_unique<PictureLines>(); });
        int master = posix_openpt(O_RDWR | O_NOCTTY);
        std::unique_ptr<SerialPort> port;
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            port = SerialPort::open(ptsname(master), serial::LineParams {}).port;
        TForm1Controls(Form1).LinePanelMenuBar->trigger();
        if (port)
            Form1->linePanel()->attach(port.get());
        settle(300);
        ok = save(Form1, dir, "telvix-line-panel.png") && ok;
        TForm1Controls(Form1).LinePanelMenuBar->trigger();
        port.reset();
        if (master >= 0)
            ::close(master);
        SerialPort::setControlFactory({});
    }
    Forms::destroyAll();
    return ok ? 0 : 1;
}
