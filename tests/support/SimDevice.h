// SPDX-License-Identifier: MIT
// telvix-sim playing a device for a test, published in a runtime folder of the test's own.
// Needs TELVIX_SIM_PATH defined to the simulator. QtCore only: the tests without a window use it.
#pragma once

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

class SimDevice
{
public:
    explicit SimDevice(const QString &behaviour, const QStringList &options = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral(TELVIX_SIM_PATH),
                        QStringList {behaviour, QStringLiteral("--quiet")} + options);
        m_link = m_runtime.path() + QStringLiteral("/telvix/sim-") + behaviour;
        if (m_process.waitForStarted(3000)) {
            for (int i = 0; i < 300 && !isUp(); ++i)
                QThread::msleep(10);
        }
    }
    ~SimDevice()
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

// The echo, as a test's loopback plug.
class EchoSim : public SimDevice
{
public:
    explicit EchoSim(const QStringList &faults = {}) : SimDevice(QStringLiteral("echo"), faults) { }
};
