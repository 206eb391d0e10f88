// SPDX-License-Identifier: MIT
#include "SendTestSupport.h"

#include "GuiHelpers.h"

#include "serial/PortSettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

LineCollector::LineCollector(int masterFd) : m_fd(masterFd), m_thread([this] { run(); }) { }

LineCollector::~LineCollector()
{
    m_stop = true;
    m_thread.join();
}

void LineCollector::run()
{
    char buffer[4096];
    while (!m_stop) {
        pollfd p {m_fd, POLLIN, 0};
        const int r = poll(&p, 1, 10);
        if (r <= 0)
            continue;
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            std::lock_guard lock(m_mutex);
            m_bytes.append(buffer, n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            // No slave side open right now (before the port opens, after it closes).
            usleep(1000);
        }
    }
}

QByteArray LineCollector::bytes() const
{
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

qsizetype LineCollector::count() const
{
    std::lock_guard lock(m_mutex);
    return m_bytes.size();
}

bool LineCollector::waitForCount(qsizetype n, int timeoutMs) const
{
    return waitUntil([&] { return count() >= n; }, timeoutMs);
}

void LineCollector::settle(int quietMs) const
{
    qsizetype last = -1;
    while (last != count()) {
        last = count();
        waitUntil([] { return false; }, quietMs);
    }
}

void usePort(const QString &path)
{
    PortSettings::DevicePathText = path;
    PortSettings::PortNameText = path;
}

void answerDialog(const char *className, std::function<void(QWidget *)> answer, int timeoutMs)
{
    auto *timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(2);
    const QByteArray name(className);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, answer, timeoutMs, name] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible() && modal->inherits(name.constData())) {
            timer->stop();
            timer->deleteLater();
            answer(modal);
        } else if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            qWarning("no %s came up", name.constData());
        }
    });
    timer->start();
}

void whenRunning(std::function<void()> action, int delayMs)
{
    QTimer::singleShot(delayMs, std::move(action));
}
