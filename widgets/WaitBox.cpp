// SPDX-License-Identifier: MIT
#include "WaitBox.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

WaitBox::WaitBox(Look look, std::function<void()> callOff, int showAfterMs)
    : m_look(std::move(look)), m_callOff(std::move(callOff)), m_showAfterMs(showAfterMs)
{
    m_clock.start();
    if (m_showAfterMs <= 0)
        show();
}

WaitBox::~WaitBox() = default;

void WaitBox::processEvents()
{
    if (!m_box && m_clock.elapsed() >= m_showAfterMs)
        show();
    QCoreApplication::processEvents(m_box ? QEventLoop::AllEvents
                                          : QEventLoop::ExcludeUserInputEvents);
}

void WaitBox::show()
{
    m_box = std::make_unique<QDialog>(QApplication::activeWindow());
    m_box->setObjectName(m_look.objectName);
    m_box->setWindowTitle(QApplication::applicationDisplayName());
    m_box->setWindowModality(Qt::ApplicationModal);
    auto *layout = new QVBoxLayout(m_box.get());
    layout->addWidget(new QLabel(m_look.text, m_box.get()));
    auto *button = new QPushButton(m_look.buttonText, m_box.get());
    button->setObjectName(m_look.buttonObjectName);
    layout->addWidget(button, 0, Qt::AlignRight);
    QObject::connect(button, &QPushButton::clicked, m_box.get(), [this] { m_callOff(); });
    // Esc and the close box reject the dialog: they give up as well.
    QObject::connect(m_box.get(), &QDialog::rejected, m_box.get(), [this] { m_callOff(); });
    m_box->show();
}
