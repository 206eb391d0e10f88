// SPDX-License-Identifier: MIT
// The line panel: a row under the tool bar with the handshake lines of the port a mode has
// open. DTR and RTS as toggles that set the line at once (開/關 on their face), their state right
// after opening, CTS/DSR/DCD/RI as lamps that follow the line, a break of a chosen length, the
// driver's error counters since the mode started, and whether bytes that came with a parity or
// framing error are marked. Everything it sees and does goes into the traffic stream with its time,
// so the logs show it.
//
// It shows what the line's own records say, as they come through the traffic stream, at most
// ten times a second: a silent line costs it nothing, a line whose lamps flicker no more than
// the status bar's counters do.
//
// Hidden, it does nothing at all: no watching, no marking, the port opens as it always did.
#pragma once

#include "traffic/LineState.h"
#include "traffic/Traffic.h"

#include <QElapsedTimer>
#include <QFrame>
#include <QPointer>

#include <memory>

class QCheckBox;
class QComboBox;
class Lamp;
class QLabel;
class QPushButton;
class QSocketNotifier;
class QSpinBox;
class QTimer;
class QToolButton;
class SerialPort;
class TrafficStream;

class LinePanel : public QFrame
{
    Q_OBJECT

public:
    LinePanel(TrafficStream &traffic, QWidget *parent = nullptr);
    ~LinePanel() override;

    // What the port opens with while the panel is shown (unchanged and off while hidden).
    serial::OpenLineState openLineState() const;
    bool markErrors() const;

    // A mode opened `port`: the outputs take their state for after opening, and while the
    // panel shows, the lamps and counters follow it. The port may go away at any time (the mode
    // ends); the panel notices it. Null: no port (the mode ended).
    void attach(SerialPort *port);

    // Shown on a lamp whose state the driver cannot tell.
    static constexpr const char *UnknownText = "未知";

    // The least time between two refreshes that follow the line.
    static constexpr int RefreshMs = 100;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    SerialPort *port() const; // null once the attached port is closed
    void follow(); // start or stop watching as the panel shows
    void refresh();
    // A record of the line came: refreshed now, or when RefreshMs since the last have passed.
    void lineChanged();
    void setOutput(serial::ModemLine line, bool on);
    void sendBreak();
    void markErrorsToggled(bool on);
    void takeQueued();
    void note(const QString &text);
    void showOutput(int i); // the toggle's face and spoken name follow its state

    class Listener : public TrafficConsumer
    {
    public:
        explicit Listener(LinePanel &panel) : m_panel(panel) { }
        void take(const TrafficRecord &record) override;

    private:
        LinePanel &m_panel;
    };

    TrafficStream &m_traffic;
    Listener m_listener {*this};
    QElapsedTimer m_sinceRefresh;
    SerialPort *m_port = nullptr;
    std::unique_ptr<QSocketNotifier> m_wake; // a port no reading mode drains
    QTimer *m_timer = nullptr;
    QToolButton *m_outputs[2] = {}; // DTR, RTS
    QComboBox *m_openState = nullptr;
    Lamp *m_lamps[4] = {}; // CTS, DSR, DCD, RI
    QPushButton *m_break = nullptr;
    QSpinBox *m_breakMs = nullptr;
    QCheckBox *m_markErrors = nullptr;
    QLabel *m_counts = nullptr;
    QLabel *m_note = nullptr;
    bool m_breaking = false;
};
