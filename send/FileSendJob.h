// SPDX-License-Identifier: MIT
// Sending a file: head string, the file's bytes, end string, each byte paced, Break between,
// and the summary at the end.
#pragma once

#include <QString>

#include <cstdint>

class ModeHost;

// What the confirmation dialog hands over, with the file the user chose.
struct FileSendRequest
{
    QString path;
    int64_t size = -1; // as the file system gave it when the file was chosen; -1 unknown
    QString headText; // the boxes' texts: control codes as their glyphs
    QString endText;
    QString delayText;
};

class FileSendJob
{
public:
    FileSendJob(ModeHost &host, FileSendRequest request)
        : m_host(host), m_request(std::move(request))
    { }
    // Everything from opening the file to the summary; returns when the send is over.
    void run();

private:
    ModeHost &m_host;
    FileSendRequest m_request;
};
