// SPDX-License-Identifier: MIT
#include "UpDown.h"

#include "traffic/IntText.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

UpDown::UpDown(QWidget *parent)
    : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton *b : {m_up, m_down}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(16, 12);
        layout->addWidget(b);
    }
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    m_up->setAccessibleName(QStringLiteral("增加"));
    m_down->setAccessibleName(QStringLiteral("減少"));
    connect(m_up, &QToolButton::clicked, this, &UpDown::stepUp);
    connect(m_down, &QToolButton::clicked, this, &UpDown::stepDown);
}

void UpDown::setAssociate(QLineEdit *box) { m_box = box; }

void UpDown::setRange(int min, int max)
{
    m_min = min;
    m_max = std::max(min, max);
    m_position = std::clamp(m_position, m_min, m_max);
}

void UpDown::setPosition(int position)
{
    m_position = std::clamp(position, m_min, m_max);
    if (m_box)
        m_box->setText(QString::number(m_position));
}

void UpDown::step(int delta)
{
    // Steps from what the box shows, when that is a number, so a typed value is not lost.
    if (m_box) {
        if (const std::optional<int32_t> typed = IntText::toInt32(m_box->text()))
            m_position = std::clamp(int(*typed), m_min, m_max);
    }
    setPosition(m_position + delta); // no wrap-around: the ends hold
}
