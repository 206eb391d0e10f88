// SPDX-License-Identifier: MIT
#include "LinePanel.h"

#include "serial/SerialPort.h"
#include "traffic/LineEvents.h"
#include "traffic/Traffic.h"
#include "widgets/Lamp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

constexpr serial::ModemLine OutputLineOf[2] = {serial::Dtr, serial::Rts};
constexpr serial::ModemLine LampLineOf[4] = {serial::Cts, serial::Dsr, serial::Dcd, serial::Ri};

// One word for a line's two states across the panel, its tooltips and what a screen reader says.
QString stateWord(bool on) { return on ? QStringLiteral("開") : QStringLiteral("關"); }

QString lineText(serial::ModemLine line) { return QLatin1String(LineEvents::lineName(line)); }

} // namespace

LinePanel::LinePanel(TrafficStream &traffic, QWidget *parent) : QFrame(parent), m_traffic(traffic)
{
    setObjectName(QStringLiteral("LinePanel"));
    setAccessibleName(QStringLiteral("線路狀態面板"));
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    // Two rows: the lines, then break, marking and the counters; one would not fit the
    // window's fixed width.
    auto *rows = new QVBoxLayout(this);
    rows->setContentsMargins(4, 2, 4, 2);
    rows->setSpacing(2);
    auto *row = new QHBoxLayout;
    row->setSpacing(4);
    rows->addLayout(row);

    static const char *OutputNames[2] = {"DtrButton", "RtsButton"};
    for (int i = 0; i < 2; ++i) {
        auto *b = new QToolButton(this);
        b->setObjectName(QLatin1String(OutputNames[i]));
        b->setCheckable(true);
        b->setEnabled(false);
        b->setToolTip(
                QStringLiteral("%1 輸出:按下為開,立即設定線路").arg(lineText(OutputLineOf[i])));
        b->setAccessibleDescription(b->toolTip());
        // The face says the state: a pressed-in button alone is hard to read at a glance.
        connect(b, &QToolButton::toggled, this, [this, i] { showOutput(i); });
        connect(b, &QToolButton::clicked, this,
                [this, i](bool on) { setOutput(OutputLineOf[i], on); });
        m_outputs[i] = b;
        showOutput(i);
        row->addWidget(b);
    }

    auto *openLabel = new QLabel(QStringLiteral("開啟時 DTR/RTS"), this);
    m_openState = new QComboBox(this);
    m_openState->setObjectName(QStringLiteral("OpenLinesCombo"));
    m_openState->addItem(QStringLiteral("不變更"), int(serial::OpenLineState::Unchanged));
    m_openState->addItem(stateWord(true), int(serial::OpenLineState::On));
    m_openState->addItem(stateWord(false), int(serial::OpenLineState::Off));
    m_openState->setToolTip(
            QStringLiteral("開啟埠之後 DTR 與 RTS 的狀態 (拉高 DTR 會重置許多板子)"));
    openLabel->setBuddy(m_openState);
    row->addWidget(openLabel);
    row->addWidget(m_openState);
    row->addSpacing(6);

    static const char *LampNames[4] = {"CtsLamp", "DsrLamp", "DcdLamp", "RiLamp"};
    for (int i = 0; i < 4; ++i) {
        auto *lamp = new Lamp(lineText(LampLineOf[i]), this);
        lamp->setObjectName(QLatin1String(LampNames[i]));
        m_lamps[i] = lamp;
        row->addSpacing(4);
        row->addWidget(lamp);
    }
    row->addStretch(1);
    row = new QHBoxLayout;
    row->setSpacing(4);
    rows->addLayout(row);

    m_break = new QPushButton(QStringLiteral("送出 Break"), this);
    m_break->setObjectName(QStringLiteral("SendBreakButton"));
    m_break->setEnabled(false);
    m_break->setAutoDefault(false);
    m_breakMs = new QSpinBox(this);
    m_breakMs->setObjectName(QStringLiteral("BreakDurationSpin"));
    m_breakMs->setRange(1, 10000);
    m_breakMs->setValue(250);
    m_breakMs->setSuffix(QStringLiteral(" ms"));
    m_breakMs->setAccessibleName(QStringLiteral("Break 長度"));
    connect(m_break, &QPushButton::clicked, this, &LinePanel::sendBreak);
    row->addWidget(m_break);
    row->addWidget(m_breakMs);

    m_markErrors = new QCheckBox(QStringLiteral("標記錯誤位元組"), this);
    m_markErrors->setObjectName(QStringLiteral("MarkErrorsCheck"));
    m_markErrors->setToolTip(QStringLiteral("同位或訊框錯誤的位元組在顯示區與記錄中標出"));
    connect(m_markErrors, &QCheckBox::toggled, this, &LinePanel::markErrorsToggled);
    row->addWidget(m_markErrors);
    row->addSpacing(6);

    m_counts = new QLabel(this);
    m_counts->setObjectName(QStringLiteral("ErrorCountsLabel"));
    m_counts->setToolTip(QStringLiteral("模式開始以來的訊框、同位、溢位、緩衝區溢位與 Break 次數"));
    row->addWidget(m_counts);
    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("LineNoteLabel"));
    row->addWidget(m_note, 1);
    m_note->setMinimumWidth(0);

    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &LinePanel::refresh);
    m_traffic.subscribe(&m_listener);
    refresh();
}

LinePanel::~LinePanel() { m_traffic.unsubscribe(&m_listener); }

void LinePanel::Listener::take(const TrafficRecord &record)
{
    switch (record.kind) {
    case TrafficKind::ModemLines:
    case TrafficKind::LineErrors:
    case TrafficKind::BreakSent:
    case TrafficKind::LineGone:
    case TrafficKind::LineBack:
        m_panel.lineChanged();
        break;
    default:
        break;
    }
}

void LinePanel::lineChanged()
{
    if (!isVisible() || m_timer->isActive())
        return;
    const qint64 since = m_sinceRefresh.isValid() ? m_sinceRefresh.elapsed() : RefreshMs;
    m_timer->start(int(std::clamp<qint64>(RefreshMs - since, 0, RefreshMs)));
}

serial::OpenLineState LinePanel::openLineState() const
{
    if (isHidden())
        return serial::OpenLineState::Unchanged;
    return serial::OpenLineState(m_openState->currentData().toInt());
}

bool LinePanel::markErrors() const { return !isHidden() && m_markErrors->isChecked(); }

SerialPort *LinePanel::port() const
{
    if (!m_port)
        return nullptr;
    const std::vector<SerialPort *> open = SerialPort::openPorts();
    return std::find(open.begin(), open.end(), m_port) != open.end() ? m_port : nullptr;
}

void LinePanel::attach(SerialPort *port)
{
    m_port = port;
    m_wake.reset();
    m_note->clear();
    const serial::OpenLineState state = openLineState();
    if (port && state != serial::OpenLineState::Unchanged) {
        const bool on = state == serial::OpenLineState::On;
        for (serial::ModemLine line : OutputLineOf)
            if (!port->setOutputLine(line, on))
                note(QStringLiteral("驅動程式不接受設定 %1").arg(lineText(line)));
    }
    if (port) {
        // A mode that reads drains the port's queue itself; for the others (the sends) what the
        // panel records is taken here.
        m_wake = std::make_unique<QSocketNotifier>(port->wakeDescriptor(), QSocketNotifier::Read);
        connect(m_wake.get(), &QSocketNotifier::activated, this, &LinePanel::takeQueued);
    }
    follow();
    refresh();
}

void LinePanel::takeQueued()
{
    SerialPort *p = port();
    if (!p || p->isReading()) {
        // The reading mode's loop takes the records in order with the bytes.
        if (m_wake)
            m_wake->setEnabled(false);
        return;
    }
    for (const TrafficRecord &r : p->take())
        m_traffic.publish(r);
    m_traffic.passEnd();
}

void LinePanel::showEvent(QShowEvent *event)
{
    QFrame::showEvent(event);
    follow();
    refresh();
}

void LinePanel::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    follow();
}

void LinePanel::follow()
{
    SerialPort *p = port();
    const bool shown = isVisible();
    if (p) {
        if (shown)
            p->startWatching();
        else
            p->stopWatching();
    }
    if (!shown)
        m_timer->stop();
}

void LinePanel::refresh()
{
    m_sinceRefresh.start();
    SerialPort *p = port();
    if (!p && m_port) {
        m_port = nullptr; // the mode ended
        m_wake.reset();
        // What the driver could not do was said of that port; the next may well do it.
        note(QString());
    }
    const serial::LineWatcher *w = p ? p->watcher() : nullptr;
    const bool known = w && w->linesKnown();
    const uint8_t lines = w ? w->lines() : 0;
    for (int i = 0; i < 4; ++i) {
        const QString name = lineText(LampLineOf[i]);
        QString state;
        if (!p) {
            state = QStringLiteral("未連線");
            m_lamps[i]->setState(Lamp::State::Absent);
        } else if (!known) {
            state = QString::fromUtf8(UnknownText);
            m_lamps[i]->setState(Lamp::State::Unknown);
        } else {
            const bool on = lines & LampLineOf[i];
            state = stateWord(on);
            m_lamps[i]->setState(on ? Lamp::State::On : Lamp::State::Off);
        }
        m_lamps[i]->setText(p && !known ? name + QStringLiteral("?") : name);
        // Colour alone says nothing to a screen reader: the state is in the name.
        const QString spoken = name + u' ' + state;
        if (m_lamps[i]->accessibleName() != spoken) {
            m_lamps[i]->setAccessibleName(spoken);
            m_lamps[i]->setToolTip(spoken);
        }
    }
    for (int i = 0; i < 2; ++i) {
        m_outputs[i]->setEnabled(p != nullptr);
        if (known)
            m_outputs[i]->setChecked((lines & OutputLineOf[i]) != 0);
    }
    m_break->setEnabled(p != nullptr && !m_breaking);
    if (w && w->countsKnown()) {
        const serial::ErrorCounts c = w->counts();
        m_counts->setText(QStringLiteral("訊框 %1 同位 %2 溢位 %3 緩衝 %4 Break %5")
                                  .arg(c.frame)
                                  .arg(c.parity)
                                  .arg(c.overrun)
                                  .arg(c.bufferOverrun)
                                  .arg(c.breaks));
    } else {
        m_counts->setText(p && w ? QStringLiteral("錯誤計數:未知") : QString());
    }
    // Said once for the mode, in the panel itself: no box each time the lamps are read.
    if (w && (!w->linesKnown() || !w->countsKnown()) && m_note->text().isEmpty())
        note(!w->linesKnown() ? QStringLiteral("此埠的驅動程式不提供線路狀態")
                              : QStringLiteral("此埠的驅動程式不提供錯誤計數"));
}

void LinePanel::showOutput(int i)
{
    const QString face = lineText(OutputLineOf[i]) + u' ' + stateWord(m_outputs[i]->isChecked());
    if (m_outputs[i]->text() == face)
        return;
    m_outputs[i]->setText(face);
    m_outputs[i]->setAccessibleName(face);
}

void LinePanel::note(const QString &text)
{
    m_note->setText(text);
    m_note->setToolTip(text);
    m_note->setAccessibleName(text);
}

void LinePanel::setOutput(serial::ModemLine line, bool on)
{
    SerialPort *p = port();
    if (!p || !p->setOutputLine(line, on)) {
        if (p)
            note(QStringLiteral("驅動程式不接受設定 %1").arg(lineText(line)));
        const int i = line == serial::Dtr ? 0 : 1;
        m_outputs[i]->setChecked(!on);
    }
    refresh();
}

void LinePanel::sendBreak()
{
    SerialPort *p = port();
    if (!p || m_breaking)
        return;
    // The break holds the line for its whole length: it is held on a thread of its own, and
    // the window goes on meanwhile. The mode cannot end under it: its loop waits for this
    // handler to return.
    m_breaking = true;
    m_break->setEnabled(false);
    std::atomic<bool> done {false};
    bool ok = false;
    const int ms = m_breakMs->value();
    std::thread holder([&] {
        ok = p->sendBreak(ms);
        done = true;
    });
    QTimer tick;
    tick.start(10);
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    holder.join();
    m_breaking = false;
    // On a network port the break is the server's to make, and a server that reads nothing
    // never gets the request.
    if (!ok)
        note(p->isNetwork() ? QStringLiteral("伺服器沒有收下送出 Break 的要求")
                            : QStringLiteral("驅動程式不接受送出 Break"));
    refresh();
}

void LinePanel::markErrorsToggled(bool on)
{
    if (SerialPort *p = port())
        if (!p->setMarkErrors(on))
            note(QStringLiteral("此埠不接受標記錯誤位元組"));
}
