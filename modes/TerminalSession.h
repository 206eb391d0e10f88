// SPDX-License-Identifier: MIT
// Terminal mode: a two-way conversation, each block labelled with the local or remote name.
//
// The port stays open for the whole conversation. Closing it around every send, to switch
// between reading and writing as other systems needed, would lose what the device answers
// meanwhile and drop DTR, which resets many devices; the port's reader takes what the device
// answers during a send, and it is shown after the send, in order.
#pragma once

#include <QByteArray>
#include <QString>

class ModeHost;
class SerialPort;

// What the conversation reads from the terminal panels under the display, at the moment of
// use: a name each time its prefix is written, the delay for every character sent.
class TerminalPanel
{
public:
    virtual ~TerminalPanel() = default;
    virtual QString localName() const = 0;
    virtual QString remoteName() const = 0;
    virtual QString delayText() const = 0;
    virtual QString messageText() const = 0; // the box's lines joined by '\n'
    virtual void clearMessage() = 0; // and give the box the focus
    virtual void focusMessage() = 0;
    // Appended to every message as it goes out: nothing, CR, LF or CR LF.
    virtual QByteArray lineEnding() const { return {}; }
    // The box holds hex digits ("01 03 0A") for the bytes, not text.
    virtual bool hexInput() const { return false; }
    // The message is going out, as the box held it: the history keeps it.
    virtual void messageSent(const QString &text) { Q_UNUSED(text); }
};

class TerminalSession
{
public:
    TerminalSession(ModeHost &host, TerminalPanel &panel) : m_host(host), m_panel(panel) { }

    // Runs the conversation to its end (Break); returns at once when the port fails to open.
    void run();

    // One press of 傳送 (or Enter in the message box): the local name, then the message, each
    // byte written, paced and shown. A send runs to its end before anything else happens; a
    // second press meanwhile (possible only while a stalled line lets events through) is no
    // second send. Does nothing while the conversation is not running. False when the box's
    // text is no message (a bad hex digit, a character with no Big5 form): the user has been
    // told where, nothing was written, and the box keeps the text to be mended.
    bool send();

    // The display was emptied: what the device sends next opens a new, labelled reply, so no
    // byte is shown without the name of its sender.
    void displayCleared();

    bool isRunning() const { return m_port != nullptr; }

private:
    class TerminalDisplay;

    ModeHost &m_host;
    TerminalPanel &m_panel;
    SerialPort *m_port = nullptr;
    TerminalDisplay *m_display = nullptr;
    bool m_sending = false;
};
