// SPDX-License-Identifier: MIT
// Ports that cannot be had, through the main window: a port another process holds, and device
// paths that name no terminal at all. Every start command must say so and change nothing.
#include "FaultSupport.h"
#include "GuiHelpers.h"
#include "Pty.h"

#include "../modes/RecordingInjector.h"
#include "../send/SendTestSupport.h"

#include "session/ModeState.h"
#include "session/ModeTable.h"
#include "main/Telvixmain1.h"
#include "modes/KeyInjection.h"
#include "send/Telvixmain3.h"
#include "send/Telvixmain4.h"
#include "serial/PortSettings.h"
#include "serial/SerialLine.h"
#include "serial/Telvixmain2.h"
#include "TForm1Controls.h"
#include "TForm2Controls.h"
#include "TForm3Controls.h"
#include "TForm4Controls.h"
#include "serial/SerialPort.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

using MessageBoxes::Kind;

namespace {

enum class Start { Receive, Terminal, R2K, FileSend, StringSend };

TForm1Controls ui() { return TForm1Controls(Form1); }

struct Started
{
    bool portOpened = false; // the start got a port after all (stopped again at once)
    bool stringDialogShown = false;
    qint64 elapsedMs = 0;
};

// Runs a start command as the user would, answering the dialogs that come before the port is
// opened. A start that gets going after all is stopped again at once, so no test hangs on it.
Started startCommand(Start start, const QString &fileToSend)
{
    Started out;
    QTimer guard;
    guard.setInterval(5);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible() && modal->inherits("TForm4")) {
            out.stringDialogShown = true;
            TForm4Controls(modal).BitBtn2->click();
        }
        if (SerialPort::openCount() > 0) {
            out.portOpened = true;
            ModeState::BreakRequested = 1;
        }
    });
    guard.start();
    QElapsedTimer clock;
    clock.start();
    switch (start) {
    case Start::Receive:
        ui().ReceiveButton->click();
        break;
    case Start::Terminal:
        ui().EnableTRModeButton->click();
        break;
    case Start::R2K:
        ui().R2KModeButton->click();
        break;
    case Start::FileSend:
        answerDialog("QFileDialog", [fileToSend](QWidget *w) {
            answerDialog("TForm3", [](QWidget *w) {
                const TForm3Controls &confirm = TForm3Controls(w);
                confirm.IntercharDelayEdit->setText(QStringLiteral("0"));
                confirm.SendButton->click();
            });
            auto *dialog = static_cast<QFileDialog *>(w);
            dialog->selectFile(fileToSend);
            static_cast<QDialog *>(dialog)->accept();
        });
        ui().Send_FileContentButton->click();
        break;
    case Start::StringSend:
        ui().Send_UserStringButton->click();
        break;
    }
    out.elapsedMs = clock.elapsed();
    return out;
}

const Start AllStarts[] = {Start::Receive, Start::Terminal, Start::R2K, Start::FileSend,
                           Start::StringSend};

const char *startName(Start start)
{
    switch (start) {
    case Start::Receive:
        return "receive";
    case Start::Terminal:
        return "terminal";
    case Start::R2K:
        return "R2K";
    case Start::FileSend:
        return "file send";
    case Start::StringSend:
        return "string send";
    }
    return "";
}

// What a refused start must leave as it found it.
struct WindowBefore
{
    WindowBefore()
    {
        ui().Memo1->setPlainText(QStringLiteral("kept"));
        Form1->setMemo1Colour(Qt::green);
        Form1->setStatusPanel(2, QStringLiteral("before"));
    }
    void verifyUnchanged() const
    {
        QCOMPARE(ui().Memo1->toPlainText(), QStringLiteral("kept"));
        QCOMPARE(Form1->memo1Colour(), QColor(Qt::green));
        QVERIFY(!ui().Memo1->isReadOnly());
        QCOMPARE(Form1->statusPanel(2), QStringLiteral("before"));
        QVERIFY(!controlEnabled(QStringLiteral("BreakButton")));
        for (const ModeControlRow &row : ModeTable::rows()) {
            for (std::string_view n : row.controls) {
                if (!n.empty())
                    QVERIFY2(controlEnabled(QString::fromUtf8(n.data(), qsizetype(n.size()))),
                             n.data());
            }
        }
        for (uint8_t flag :
             {ModeState::ReceiveModeActive, ModeState::SendActive, ModeState::TRModeActive,
              ModeState::R2KModeActive, ModeState::BreakRequested})
            QCOMPARE(flag, uint8_t(0));
        QCOMPARE(SerialPort::openCount(), 0);
    }
};

// Fills in the port dialog with the device path and leaves it by OK.
void choosePortByPath(const QString &path)
{
    answerNextModal([path](QWidget *w) {
        auto *dialog = qobject_cast<TForm2 *>(w);
        QVERIFY(dialog);
        const TForm2Controls &form = TForm2Controls(dialog);
        form.ComPortEdit->setText(QStringLiteral("1"));
        form.BaudRateEdit->setText(QStringLiteral("9600"));
        form.DevicePathEdit->setText(path);
        form.BitBtn1->click();
    });
    ui().Rs232ConfigButton->click();
}

void setSpeed(const QString &slavePath, speed_t speed)
{
    const int fd = ::open(QFile::encodeName(slavePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    termios t {};
    QVERIFY(tcgetattr(fd, &t) == 0);
    cfsetspeed(&t, speed);
    QVERIFY(tcsetattr(fd, TCSANOW, &t) == 0);
    ::close(fd);
}

} // namespace

class TestPortFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { KeyInjection::setFactory({}); }
    void cleanupTestCase() { tearDownForms(); }

    void heldByAnotherProcess_data();
    void heldByAnotherProcess();
    void nodeThatIsNoTerminal_data();
    void nodeThatIsNoTerminal();

private:
    QTemporaryDir m_files;
    QString m_fileToSend;
    std::shared_ptr<KeyLog> m_log;
};

void TestPortFaults::init()
{
    freshStart();
    QVERIFY(m_files.isValid());
    m_fileToSend = m_files.filePath(QStringLiteral("send.bin"));
    QFile f(m_fileToSend);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("payload");
    f.close();
    m_log = std::make_shared<KeyLog>();
    std::shared_ptr<KeyLog> log = m_log;
    KeyInjection::setFactory([log] {
        KeyInjection::Opened opened;
        opened.injector = std::make_unique<RecordingInjector>(log);
        return opened;
    });
}

void TestPortFaults::heldByAnotherProcess_data()
{
    QTest::addColumn<int>("start");
    for (Start s : AllStarts)
        QTest::newRow(startName(s)) << int(s);
}

void TestPortFaults::heldByAnotherProcess()
{
    QFETCH(int, start);
    Pty pty;
    const QString slave = pty.slavePath();
    // The holder's line as it has it; a start that went ahead would set 9600 baud.
    setSpeed(slave, B1200);
    HeldElsewhere holder(slave);
    QVERIFY(holder.holding());
    usePort(slave);
    const WindowBefore before;
    MessageRecorder boxes;
    const Started started = startCommand(Start(start), m_fileToSend);
    QVERIFY(!started.portOpened);
    QVERIFY(!started.stringDialogShown);
    QVERIFY2(started.elapsedMs < 20000, qPrintable(QString::number(started.elapsedMs)));
    QCOMPARE(boxes.shown.size(), 2);
    QCOMPARE(boxes.shown[0].kind, Kind::Beep);
    QCOMPARE(boxes.shown[1].kind, Kind::Plain);
    QCOMPARE(boxes.shown[1].text,
             slave + QStringLiteral(" 埠,無法開啟\n裝置忙碌中 (另一個程式正在使用它)"));
    before.verifyUnchanged();
    QCOMPARE(descriptorsOn(slave), 0);
    QCOMPARE(descriptorsOn(m_fileToSend), 0);
    QVERIFY(m_log->events.isEmpty());
    // The master reports the slave's settings: the holder's line was not touched.
    termios t {};
    QVERIFY(tcgetattr(pty.masterFd(), &t) == 0);
    QCOMPARE(cfgetospeed(&t), speed_t(B1200));
    QCOMPARE(pty.readAvailable(), QByteArray());

    // Once its holder lets go the port is free at once: the refused start kept no claim.
    holder.release();
    const serial::OpenResult again = serial::openPort(slave.toStdString());
    QVERIFY2(again.fd >= 0, strerror(again.error));
    serial::closePort(again.fd);
}

void TestPortFaults::nodeThatIsNoTerminal_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("suffix");
    // A node that opens but is no terminal fails on the configuration read; one that does
    // not open at all fails on the open.
    QTest::newRow("/dev/null") << "null"
                               << " 埠,目前不供存取權\n不是終端裝置";
    QTest::newRow("regular file") << "file"
                                  << " 埠,目前不供存取權\n不是終端裝置";
    QTest::newRow("named pipe") << "fifo"
                                << " 埠,目前不供存取權\n不是終端裝置";
    QTest::newRow("directory") << "directory"
                               << " 埠,無法開啟\n這是一個資料夾";
    QTest::newRow("socket") << "socket"
                            << " 埠,無法開啟\n這是一個 socket, 不是裝置";
}

void TestPortFaults::nodeThatIsNoTerminal()
{
    QFETCH(QString, kind);
    QFETCH(QString, suffix);
    QTemporaryDir nodes;
    QVERIFY(nodes.isValid());
    QString node;
    int socketFd = -1;
    if (kind == u"null") {
        node = QStringLiteral("/dev/null");
    } else if (kind == u"file") {
        node = nodes.filePath(QStringLiteral("plain"));
        QFile f(node);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("content");
    } else if (kind == u"fifo") {
        node = nodes.filePath(QStringLiteral("pipe"));
        QVERIFY(mkfifo(QFile::encodeName(node).constData(), 0600) == 0);
    } else if (kind == u"directory") {
        node = nodes.filePath(QStringLiteral("folder"));
        QVERIFY(QDir().mkdir(node));
    } else {
        node = nodes.filePath(QStringLiteral("sock"));
        socketFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(socketFd >= 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(node);
        QVERIFY(size_t(name.size()) < sizeof address.sun_path);
        memcpy(address.sun_path, name.constData(), size_t(name.size()));
        QVERIFY(bind(socketFd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
    }

    MessageRecorder boxes;
    choosePortByPath(node);
    QVERIFY(boxes.shown.isEmpty());
    QCOMPARE(Form1->statusPanel(0), QStringLiteral("%1 = 9600 , N , 8 , 1").arg(node));
    const WindowBefore before;
    // /dev/null may already be open here, as standard input for one.
    const int openBefore = descriptorsOn(node);
    for (Start s : AllStarts) {
        boxes.clear();
        const Started started = startCommand(s, m_fileToSend);
        const QString what = QString::fromLatin1(startName(s));
        QVERIFY2(!started.portOpened, qPrintable(what));
        QVERIFY2(!started.stringDialogShown, qPrintable(what));
        QVERIFY2(started.elapsedMs < 20000, qPrintable(what));
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown[0].kind, Kind::Beep);
        QCOMPARE(boxes.shown[1].text, node + suffix);
        before.verifyUnchanged();
        QVERIFY2(descriptorsOn(node) == openBefore, qPrintable(what));
    }
    QVERIFY(m_log->events.isEmpty());
    if (kind == u"file") {
        QFile f(node);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("content"));
    }
    if (socketFd >= 0)
        ::close(socketFd);
}

QTEST_MAIN(TestPortFaults)
#include "tst_portfaults.moc"
