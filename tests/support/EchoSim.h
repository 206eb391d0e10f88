// SPDX-License-Identifier: MIT
// telvix-sim's echo as a test's loopback plug. Needs TELVIX_SIM_PATH defined to the simulator.
#pragma once

#include "GuiHelpers.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

// telvix-sim's echo, published in a runtime folder of the test's own.
class EchoSim
{
public:
    explicit EchoSim(const QStringList &faults = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral(TELVIX_SIM_PATH), QStringList {"echo", "--quiet"} + faults);
        m_link = m_runtime.path() + QStringLiteral("/telvix/sim-echo");
        if (m_process.waitForStarted(3000))
            waitUntil([&] { return QFileInfo(m_link).isSymLink(); }, 3000);
    }
    ~EchoSim()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process.processId()), SIGTERM);
            m_process.waitForFinished(3000);
        }
    }
    bool isUp() const { return QFileInfo(m_link).isSymLink(); }
    QString link() const { return m_link; }

private:
    QTemporaryDir m_runtime;
    QProcess m_process;
    QString m_link;
};
