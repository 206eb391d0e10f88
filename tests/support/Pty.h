// SPDX-License-Identifier: MIT
// A real pseudo-terminal pair for tests: the program under test opens the slave by its path,
// the test plays the device on the master.
#pragma once

#include <QByteArray>
#include <QString>

class Pty
{
public:
    Pty(); // opens the pair; the slave is closed again at once so only the program holds it
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // Writes everything (retrying on EAGAIN); false on error.
    bool write(const QByteArray &bytes);
    // Writes what the pty takes now, without waiting; returns how many bytes went in.
    qsizetype writeSome(const char *bytes, qsizetype count);
    // Reads what arrives until `count` bytes are in or `timeoutMs` passes without a byte.
    QByteArray read(int count, int timeoutMs = 2000);
    // Whatever is readable now, without waiting.
    QByteArray readAvailable();
    // Closes the master: the slave side sees a hang-up.
    void hangUp();

private:
    int m_master = -1;
    QString m_slavePath;
};
