// SPDX-License-Identifier: MIT
#include "GuiHelpers.h"

#include "main/Forms.h"
#include "session/ModeState.h"
#include "main/Telvixmain1.h"
#include "serial/PortDirectory.h"
#include "serial/PortSettings.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QTest>
#include <QTimer>

MessageRecorder::MessageRecorder()
{
    MessageBoxes::setHook(
            [this](const MessageBoxes::Shown &s) {
                shown.append(s);
                if (onShown)
                    onShown(s);
            },
            [this](const MessageBoxes::Shown &) { return answerYes; });
}

MessageRecorder::~MessageRecorder() { MessageBoxes::setHook({}); }

QStringList MessageRecorder::texts(MessageBoxes::Kind kind) const
{
    QStringList out;
    for (const MessageBoxes::Shown &s : shown) {
        if (s.kind == kind)
            out.append(s.text);
    }
    return out;
}

QString MessageRecorder::lastText() const
{
    for (auto it = shown.crbegin(); it != shown.crend(); ++it) {
        if (it->kind != MessageBoxes::Kind::Beep)
            return it->text;
    }
    return {};
}

void freshStart()
{
    tearDownForms();
    ModeState::reset();
    PortSettings::reset();
    serial::CurrentScanRoots = serial::ScanRoots {};
    Forms::createAll();
    Form1->show();
}

void tearDownForms() { Forms::destroyAll(); }

void answerNextModal(std::function<void(QWidget *)> answer, int timeoutMs)
{
    auto *timer = new QTimer;
    auto *clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, answer, timeoutMs] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            answer(modal);
        } else if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            qWarning("no modal dialog came up");
        }
    });
    timer->start();
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(1);
    }
    return true;
}

bool controlEnabled(const QString &objectName)
{
    if (QMenu *menu = Form1->findChild<QMenu *>(objectName))
        return menu->menuAction()->isEnabled();
    if (QAction *action = Form1->findChild<QAction *>(objectName))
        return action->isEnabled();
    if (QWidget *widget = Form1->findChild<QWidget *>(objectName))
        return widget->isEnabled();
    qFatal("no control %s", qPrintable(objectName));
}

ModeScript &ModeScript::then(std::function<void()> action)
{
    m_steps.append({std::move(action), {}, {}, 0});
    return *this;
}

ModeScript &ModeScript::waitFor(std::function<bool()> condition, const QString &what, int timeoutMs)
{
    m_steps.append({{}, std::move(condition), what, timeoutMs});
    return *this;
}

void ModeScript::start()
{
    m_next = 0;
    m_stepStarted = -1;
    m_failure.clear();
    QTimer::singleShot(0, [this] { poll(); });
}

void ModeScript::poll()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    while (m_next < m_steps.size()) {
        Step &step = m_steps[m_next];
        if (step.action) {
            step.action();
            ++m_next;
            continue;
        }
        if (m_stepStarted < 0)
            m_stepStarted = clock.elapsed();
        if (step.condition()) {
            ++m_next;
            m_stepStarted = -1;
            continue;
        }
        if (clock.elapsed() - m_stepStarted > step.timeoutMs) {
            m_failure = QStringLiteral("timed out waiting for ") + step.what;
            m_next = m_steps.size();
            ModeState::BreakRequested = 1;
            return;
        }
        QTimer::singleShot(5, [this] { poll(); });
        return;
    }
}
