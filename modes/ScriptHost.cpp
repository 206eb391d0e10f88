// SPDX-License-Identifier: MIT
#include "ScriptHost.h"

#include "send/SendTexts.h"
#include "serial/SerialPort.h"
#include "session/ModeState.h"
#include "session/ReadLoop.h"
#include "traffic/Traffic.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>

namespace {

QString refused(const char *what)
{
    return QStringLiteral("驅動程式不接受%1").arg(QString::fromUtf8(what));
}

} // namespace

ScriptHost::ScriptHost(SerialPort &port, ScriptEngine::Options options)
    : m_port(port), m_engine(*this, std::move(options))
{ }

ScriptEngine::Result ScriptHost::run(TrafficStream &traffic, const QByteArray &source,
                                     const QString &name, const std::function<bool()> &stopWhen)
{
    traffic.subscribe(this);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, this, [&] {
        if (stopWhen && stopWhen())
            stop();
        // The read loop ends at Break, which is what the script's end asks for.
        if (m_engine.isFinished())
            ModeState::BreakRequested = 1;
    });
    watch.start(10);
    m_engine.start(source, name);
    // Each read at once: expect answers the sooner, and what a script reads is seldom a flood.
    ReadLoop::run(m_port, traffic);
    watch.stop();
    stop();
    const ScriptEngine::Result result = m_engine.wait();
    // The output and the records the script's last calls left behind.
    QCoreApplication::processEvents();
    for (const TrafficRecord &r : m_port.take())
        traffic.publishToKeepers(r);
    traffic.passEnd();
    traffic.unsubscribe(this);
    return result;
}

ScriptHost::~ScriptHost() { stop(); }

void ScriptHost::stop()
{
    m_stopping = true;
    m_engine.stop();
}

void ScriptHost::take(const TrafficRecord &record)
{
    if (record.kind == TrafficKind::Received || record.kind == TrafficKind::Flawed)
        m_engine.deliver(record.bytes);
}

QString ScriptHost::onModeThread(std::function<QString()> work)
{
    auto answer = std::make_shared<std::promise<QString>>();
    std::future<QString> answered = answer->get_future();
    QMetaObject::invokeMethod(
            this, [work = std::move(work), answer] { answer->set_value(work()); },
            Qt::QueuedConnection);
    while (answered.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        if (m_stopping)
            return QStringLiteral("stopped");
    }
    return answered.get();
}

QString ScriptHost::send(const QByteArray &bytes)
{
    return onModeThread([this, bytes] {
        // A line that holds the bytes back lets events through meanwhile, as a terminal send
        // does: the window stays live, and 連線中斷 or Ctrl+C can give the write up.
        const qsizetype sent = m_port.writeRecorded(bytes, [this] {
            QCoreApplication::processEvents();
            return !m_stopping.load();
        });
        return sent == bytes.size() ? QString() : SendTexts::lineLost(sent, bytes.size());
    });
}

QString ScriptHost::setParams(const ScriptParams &p)
{
    return onModeThread([this, p] {
        serial::LineParams next = m_port.params();
        if (p.baud)
            next.baudRate = *p.baud;
        if (p.bits)
            next.dataBits = uint8_t(*p.bits);
        if (p.stop)
            next.stopBits = *p.stop == 2 ? 2 : 0;
        if (p.parity) {
            const char *order = "NOEMS";
            next.parity = serial::Parity(std::strchr(order, *p.parity) - order);
        }
        if (p.flow)
            next.flow = *p.flow == u"rtscts" ? serial::FlowControl::RtsCts
                    : *p.flow == u"xonxoff"  ? serial::FlowControl::XonXoff
                                             : serial::FlowControl::None;
        return m_port.reconfigure(next) ? QString() : QStringLiteral("埠,無法寫入參數值");
    });
}

QString ScriptHost::setOutput(Output line, bool on)
{
    return onModeThread([this, line, on] {
        const bool dtr = line == Output::Dtr;
        return m_port.setOutputLine(dtr ? serial::Dtr : serial::Rts, on)
                ? QString()
                : refused(dtr ? "設定 DTR" : "設定 RTS");
    });
}

QString ScriptHost::input(Input line, bool &on)
{
    // Shared: a call the stop left unanswered still writes it when it runs.
    auto lines = std::make_shared<uint8_t>(0);
    const QString error = onModeThread([this, lines] {
        return m_port.control().modemLines(*lines) ? QString() : refused("讀取線路狀態");
    });
    static constexpr uint8_t Bits[] = {serial::Cts, serial::Dsr, serial::Dcd, serial::Ri};
    on = (*lines & Bits[int(line)]) != 0;
    return error;
}

QString ScriptHost::sendBreak(int ms)
{
    return onModeThread(
            [this, ms] { return m_port.sendBreak(ms) ? QString() : refused(" Break"); });
}

void ScriptHost::log(const QString &text)
{
    // Straight into the port's queue, which takes records from any thread.
    m_port.record({TrafficKind::Report, monotonicMicroseconds(), text.toUtf8()});
}

void ScriptHost::print(const QString &text)
{
    QMetaObject::invokeMethod(
            this, [this, text] { emit printed(text); }, Qt::QueuedConnection);
}
