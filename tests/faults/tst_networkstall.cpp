// SPDX-License-Identifier: MIT
// A serial server that answers the line parameters and then reads nothing more, while the
// window sends a file to it: the line panel's DTR and Break must not hang the window, and the
// mode's Break must end the send whatever the socket does.
#include "GuiHelpers.h"
#include "LinePanelHelpers.h"
#include "Loopback.h"

#include "../send/SendTestSupport.h"

#include "session/ModeState.h"
#include "main/Telvixmain1.h"
#include "send/Telvixmain3.h"
#include "serial/SerialPort.h"
#include "TForm1Controls.h"
#include "TForm3Controls.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

// Answers every COM-PORT-OPTION setting with what was asked, as a server does, and from then
// on reads nothing: its small receive buffer fills and the client's socket stops taking bytes.
class StallingServer
{
public:
    StallingServer()
    {
        m_listener = smallLoopbackListener(m_port);
        m_thread = std::thread([this] { run(); });
    }
    ~StallingServer()
    {
        m_ending = true;
        m_thread.join();
        if (m_client >= 0)
            ::close(m_client);
        ::close(m_listener);
    }
    QString url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_port); }
    bool answered() const { return m_answered; }

private:
    void run()
    {
        while (!m_ending && m_client < 0) {
            pollfd p {m_listener, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0)
                m_client = ::accept(m_listener, nullptr, nullptr);
        }
        // The four parameters, then the two masks: six settings, each answered.
        QByteArray in;
        int answered = 0;
        QByteArray reply = QByteArray::fromHex("FFFD2C");
        while (!m_ending && answered < 6) {
            pollfd p {m_client, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buffer[512];
            const ssize_t n = ::recv(m_client, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            in.append(buffer, n);
            for (qsizetype at; (at = in.indexOf(QByteArray::fromHex("FFFA2C"))) >= 0;) {
                const qsizetype end = in.indexOf(QByteArray::fromHex("FFF0"), at);
                if (end < 0)
                    break;
                QByteArray command = in.mid(at, end + 2 - at);
                command[3] = char(uchar(command[3]) + 100);
                reply += command;
                ++answered;
                in.remove(0, end + 2);
            }
        }
        ::send(m_client, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL);
        m_answered = true;
        while (!m_ending)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    int m_listener = -1;
    int m_client = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_ending {false};
    std::atomic<bool> m_answered {false};
    std::thread m_thread;
};

// Follows the event loop's turns from a thread of its own: the longest the window went without
// one, and the end of the program if it hangs or the mode never ends.
class LoopWatch
{
public:
    LoopWatch()
    {
        m_last = nowMs();
        m_tick.setInterval(20);
        QObject::connect(&m_tick, &QTimer::timeout, [this] { m_last = nowMs(); });
        m_tick.start();
        m_thread = std::thread([this] {
            const int64_t started = nowMs();
            std::unique_lock lock(m_mutex);
            while (!m_done.wait_for(lock, std::chrono::milliseconds(20),
                                    [this] { return m_over; })) {
                const int64_t gap = nowMs() - m_last;
                m_longest = std::max<int64_t>(m_longest, gap);
                if (gap > 10000)
                    qFatal("the window has not answered for 10 s");
                if (nowMs() - started > 60000)
                    qFatal("the send has not ended 60 s after it started");
            }
        });
    }
    ~LoopWatch()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_over = true;
        }
        m_done.notify_all();
        m_thread.join();
    }
    int64_t longestGapMs() const { return m_longest; }

private:
    QTimer m_tick;
    std::atomic<int64_t> m_last {0};
    std::atomic<int64_t> m_longest {0};
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_over = false;
    std::thread m_thread;
};

int unsentBytes(int fd)
{
    int n = 0;
    return ioctl(fd, SIOCOUTQ, &n) == 0 ? n : 0;
}

} // namespace

class TestNetworkStall : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void lineControlsDuringAStalledSend_data();
    void lineControlsDuringAStalledSend();
};

void TestNetworkStall::lineControlsDuringAStalledSend_data()
{
    QTest::addColumn<QString>("control");
    QTest::newRow("DTR") << "DtrButton";
    QTest::newRow("送出 Break") << "SendBreakButton";
}

void TestNetworkStall::lineControlsDuringAStalledSend()
{
    QFETCH(QString, control);
    StallingServer server;
    usePort(server.url());
    if (!TForm1Controls(Form1).LinePanelMenuBar->isChecked())
        TForm1Controls(Form1).LinePanelMenuBar->trigger();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.bin"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray block(1 << 20, 'x');
        for (int i = 0; i < 20; ++i)
            QVERIFY(file.write(block) == block.size());
    }

    MessageRecorder boxes;
    QString failure;
    bool stalled = false;
    bool clicked = false;
    int64_t startedMs = 0;
    QTimer steps;
    steps.setInterval(50);
    QObject::connect(&steps, &QTimer::timeout, [&] {
        const std::vector<SerialPort *> open = SerialPort::openPorts();
        if (open.empty() || clicked)
            return;
        if (startedMs == 0)
            startedMs = nowMs();
        // A few seconds into the send, with bytes the server does not take.
        if (nowMs() - startedMs < 3000 || unsentBytes(open.front()->descriptor()) == 0) {
            if (nowMs() - startedMs > 20000) {
                failure = QStringLiteral("the socket never filled");
                ModeState::BreakRequested = 1;
            }
            return;
        }
        stalled = server.answered();
        clicked = true;
        // The mode's Break comes while the control's click is still being handled.
        QTimer::singleShot(1500, [] { TForm1Controls(Form1).BreakButton->click(); });
        panel()->findChild<QAbstractButton *>(control)->click();
    });
    steps.start();

    answerDialog("QFileDialog", [path](QWidget *w) {
        answerDialog("TForm3", [](QWidget *w) {
            const TForm3Controls &confirm = TForm3Controls(w);
            confirm.IntercharDelayEdit->setText(QStringLiteral("0"));
            confirm.SendButton->click();
        });
        auto *dialog = static_cast<QFileDialog *>(w);
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept();
    });
    int64_t longest = 0;
    {
        LoopWatch watch;
        TForm1Controls(Form1).Send_FileContentButton->click();
        longest = watch.longestGapMs();
    }
    steps.stop();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(stalled);
    QVERIFY(clicked);
    QVERIFY2(longest < 1000,
             qPrintable(QStringLiteral("the window went %1 ms without an answer").arg(longest)));
    QCOMPARE(ModeState::SendActive, uint8_t(0));
    QCOMPARE(SerialPort::openCount(), 0);
    // The summary tells the send was cut short, as a Break always does.
    QVERIFY2(boxes.lastText().contains(QStringLiteral("中斷")), qPrintable(boxes.lastText()));
}

QTEST_MAIN(TestNetworkStall)
#include "tst_networkstall.moc"
