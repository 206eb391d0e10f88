// SPDX-License-Identifier: MIT
#include "PassThroughSession.h"

#include "serial/SerialPort.h"
#include "session/ConversationDisplay.h"
#include "session/ModeFrame.h"
#include "session/ModeHost.h"
#include "session/ModeState.h"
#include "session/ReadLoop.h"
#include "traffic/Traffic.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>

namespace {

// How long the device's bytes wait for a program that reads none before they are given up for
// it (the capture has them all the same): a port nobody reads drops what comes, too.
constexpr int64_t ProgramWaitUs = 1000000;

// The device going and coming, to the program's side.
class DeviceWatch : public TrafficConsumer
{
public:
    explicit DeviceWatch(serial::PassThroughPty &pty) : m_pty(pty) { }
    void take(const TrafficRecord &record) override
    {
        if (record.kind == TrafficKind::LineGone && !m_pty.isHungUp())
            m_pty.hangUp();
        else if (record.kind == TrafficKind::LineBack)
            m_pty.restore();
    }

private:
    serial::PassThroughPty &m_pty;
};

} // namespace

QString PassThroughSession::limitsText()
{
    return QStringLiteral("不轉送數據機控制線與 Break;資料位元與同位檢查依串列埠參數");
}

QString PassThroughSession::paramsText(const serial::LineParams &p)
{
    static constexpr char Letters[] = "NOEMS";
    return QStringLiteral("%1 %2%3%4")
            .arg(p.baudRate)
            .arg(p.dataBits)
            .arg(QChar::fromLatin1(Letters[int(p.parity)]))
            .arg(p.stopBits == 2 ? 2 : 1);
}

void PassThroughSession::run(const PassThroughRequest &request)
{
    std::atomic<bool> ending {false};
    serial::PassThroughPty::Callbacks callbacks;
    callbacks.data = [this](const char *data, size_t size, int64_t timeUs) {
        QMetaObject::invokeMethod(
                this,
                [this, chunk = Chunk {QByteArray(data, qsizetype(size)), timeUs}]() mutable {
                    toDevice(std::move(chunk));
                },
                Qt::QueuedConnection);
    };
    callbacks.params = [this](const serial::LineParams &params, int64_t timeUs) {
        QMetaObject::invokeMethod(
                this, [this, params, timeUs] { programParams(params, timeUs); },
                Qt::QueuedConnection);
    };
    serial::PassThroughPty::Created created =
            serial::PassThroughPty::create(request.name, std::move(callbacks));
    if (!created.pty) {
        m_host.message(QString::fromStdString(created.reason));
        return;
    }
    serial::PassThroughPty &pty = *created.pty;
    ModeFrame frame(m_host, Mode::PassThrough);
    SerialPort *port = frame.begin();
    if (!port)
        return;
    m_port = port;
    m_pty = &pty;
    port->setForward([&pty, &ending](const QByteArray &bytes) {
        const int64_t since = monotonicMicroseconds();
        pty.write(bytes.constData(), size_t(bytes.size()),
                  [&] { return !ending && monotonicMicroseconds() - since < ProgramWaitUs; });
    });
    TrafficStream &traffic = m_host.traffic();
    traffic.publish(
            SideNames {request.toProgram, {}, request.toDevice}.record(monotonicMicroseconds()));
    m_host.showPublishedName(QString::fromStdString(pty.linkPath()), limitsText());
    ConversationDisplay display(
            m_host, [&request] { return request.toDevice; },
            [&request] { return request.toProgram; });
    DeviceWatch watch(pty);
    traffic.subscribe(&display);
    traffic.subscribe(&watch);
    // Each read at once: the display shows the conversation as the program and the device
    // have it, and what the program waits for is not held back by the screen.
    ReadLoop::run(*port, traffic);
    ending = true;
    traffic.unsubscribe(&watch);
    traffic.unsubscribe(&display);
    display.finish();
    traffic.publish(SideNames().record(monotonicMicroseconds()));
    traffic.passEnd();
    m_host.showPublishedName({}, {});
    m_pending.clear();
    m_port = nullptr;
    m_pty = nullptr;
    // The port's reader goes first: it writes into the pty until then.
    frame.end();
}

void PassThroughSession::toDevice(Chunk chunk)
{
    if (!m_port)
        return;
    m_pending.push_back(std::move(chunk));
    // A write the device holds back lets events through, and with them the program's next
    // chunks: they wait their turn behind it.
    if (m_writing)
        return;
    m_writing = true;
    while (!m_pending.empty() && m_port) {
        Chunk next = std::move(m_pending.front());
        m_pending.pop_front();
        const qsizetype sent = m_port->write(next.bytes, [] {
            QCoreApplication::processEvents();
            return ModeState::BreakRequested == 0;
        });
        if (sent > 0 && m_port)
            m_port->record({TrafficKind::Sent, next.timeUs, next.bytes.first(sent)});
    }
    m_writing = false;
}

void PassThroughSession::programParams(const serial::LineParams &params, int64_t timeUs)
{
    if (!m_port || !m_pty)
        return;
    serial::LineParams next = m_port->params();
    next.baudRate = params.baudRate;
    next.stopBits = params.stopBits;
    next.flow = params.flow;
    if (m_pty->framingVisible()) {
        next.dataBits = params.dataBits;
        next.parity = params.parity;
    }
    QString text = paramsText(next);
    if (!m_port->reconfigure(next))
        text += QStringLiteral(" (裝置不接受)");
    m_port->record({TrafficKind::Params, timeUs, text.toUtf8()});
}
