// SPDX-License-Identifier: MIT
// What a running mode may ask of the window, and nothing more: the port its start opens, the
// switch to the mode's column of the enable/disable table and back, the status text, the
// display and how it renders the traffic, the traffic stream, and messages. The main window is
// the host the program runs with; tests and benchmarks drive the modes through hosts of their
// own.
#pragma once

#include "serial/PortSettings.h"
#include "session/ModeTable.h"
#include "traffic/TrafficText.h"

#include <QString>
#include <QStringView>

#include <memory>
#include <vector>

class SerialPort;
class TrafficRenderer;
class TrafficStream;

// Where text reaches the traffic display.
class DisplaySink
{
public:
    virtual ~DisplaySink() = default;
    // After whatever is selected, caret behind it.
    virtual void insertAtCaret(QStringView piece) = 0;
    // The same, with ranges of the piece set apart as flawed; a display that cannot show them
    // shows the text alone.
    virtual void insertMarked(QStringView piece, const std::vector<MarkedRange> &marks)
    {
        Q_UNUSED(marks);
        insertAtCaret(piece);
    }
    // A line and its break at the end; the caret on the empty line below.
    virtual void appendLine(QStringView line) = 0;
    virtual void clear() = 0;
};

class ModeHost
{
public:
    virtual ~ModeHost() = default;

    // Opens and configures the port the settings name, as every mode's start does; on failure
    // the user has been told why, and nothing is returned.
    virtual std::unique_ptr<SerialPort> openPort() = 0;
    // A port only to be heard (the monitor's lines): opened as openPort() opens the settings'
    // one, with the same messages, and never written to: its DTR and RTS are left as the
    // driver has them. The host's own implementation suits hosts without a line panel.
    virtual std::unique_ptr<SerialPort> openListeningPort(const PortSettings::PortChoice &choice);

    // The window as the mode's column wants it while the mode runs (controls off, Break on,
    // the display's look, the panels, the status text), and back as it was.
    virtual void enterMode(Mode mode) = 0;
    virtual void leaveMode(Mode mode) = 0;

    // Status panel 2.
    virtual void setStatusText(const QString &text) = 0;
    // The name the pass-through publishes for the program, shown (with a way to copy it) while
    // the mode runs; empty: shown no more.
    virtual void showPublishedName(const QString &name, const QString &note)
    {
        Q_UNUSED(name);
        Q_UNUSED(note);
    }

    virtual DisplaySink &display() = 0;
    // The display's rendering of the traffic, with its formatter.
    virtual TrafficRenderer &renderer() = 0;
    virtual TrafficStream &traffic() = 0;

    // How long at least between two passes of the display while a line runs at its own rate:
    // a frame of the screen while the window is seen, longer while it is not; 0 shows each
    // read at once.
    virtual int displayFrameMs() const { return 0; }

    // Whether receive mode shows what the command list and the auto-replies send (the display
    // otherwise shows what arrives).
    virtual bool showsSentCommands() const { return false; }

    // A plain box, and the box of an error that ends the step (stop icon, full stop).
    virtual void message(const QString &text) = 0;
    virtual void errorBox(const QString &text) = 0;
};
