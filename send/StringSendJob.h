// SPDX-License-Identifier: MIT
// Sending typed strings: the dialog comes back after every string until the user leaves it.
// The port stays open for the whole time, and nothing of the window is switched off.
#pragma once

#include <QString>

#include <functional>
#include <optional>

class ModeHost;
class SerialPort;

// What the string dialog hands over at each press of 傳送.
struct StringSendRequest
{
    QString text; // control codes as their glyphs
    QString delayText;
    bool appendCr = false;
    bool hex = false; // the text is hex digits for the bytes ("01 03 0A"), the 0Dh still added
};

class StringSendJob
{
public:
    // Shows the dialog; the next string, or nothing when the user left.
    using Ask = std::function<std::optional<StringSendRequest>()>;

    StringSendJob(ModeHost &host, Ask ask) : m_host(host), m_ask(std::move(ask)) { }
    void run();

private:
    enum class Outcome { Again, EndMode };
    Outcome send(SerialPort &port, const StringSendRequest &request);

    ModeHost &m_host;
    Ask m_ask;
};
