// SPDX-License-Identifier: MIT
// A conversation as the display shows it: a block under the sender's name each time the other
// side speaks, what was sent and what came back through the window's one formatter (so a Big5
// pair can be completed across them, the formatter's pair state being shared). Terminal mode
// and script mode show their lines so; the monitor's two lines are two remote sides, each
// under the name of its direction.
#pragma once

#include "session/ReceivedDisplay.h"

#include <QString>

#include <functional>

class ConversationDisplay : public ReceivedDisplay
{
public:
    // The names are read each time a label is written: the user may change them meanwhile.
    using Name = std::function<QString()>;
    // `remoteSecond` names what the second of two lines heard at once receives.
    ConversationDisplay(ModeHost &host, Name local, Name remote, Name remoteSecond = {});

    void take(const TrafficRecord &record) override;

    // The next byte opens a block with its label, whichever side sends it.
    void endBlock() { m_open = Side::None; }
    // A block of our own, opened now: what goes out next is shown under it.
    void openLocal(int64_t timeUs);

    // The prefix of a block: a line break, the name, " : ".
    static QString prefix(const QString &name);

protected:
    // A Sent record: under the local name, in the block that is open or in a new one.
    virtual void takeSent(const TrafficRecord &record);

private:
    enum class Side { None, Local, Remote, RemoteSecond };
    // A block's label, with the block's time where the user asked for it.
    void label(const QString &name, int64_t timeUs);

    Name m_local;
    Name m_remote;
    Name m_remoteSecond;
    Side m_open = Side::None;
};
