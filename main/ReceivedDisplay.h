// SPDX-License-Identifier: MIT
// The display as a consumer of the traffic: the received bytes of one pass become one insertion,
// the same text at the same place as one insertion per piece, without paying for the display
// once per byte. Terminal mode adds its labels and the echo of what it sends.
#pragma once

#include "main/Traffic.h"

#include <QString>

class ModeHost;

class ReceivedDisplay : public TrafficConsumer
{
public:
    explicit ReceivedDisplay(ModeHost &host) : m_host(host) { }
    void take(const TrafficRecord &record) override;
    void passEnd() override;

protected:
    // Text that goes in with the received bytes of this pass, in order.
    void addText(const QString &text) { m_shown += text; }
    void addBytes(const QByteArray &bytes);

    ModeHost &m_host;

private:
    QString m_shown;
};
