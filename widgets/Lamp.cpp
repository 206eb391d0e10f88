// SPDX-License-Identifier: MIT
#include "Lamp.h"

#include <QPainter>

namespace {

struct Look
{
    QColor light;
    QColor rim;
};

Look lookOf(Lamp::State state)
{
    switch (state) {
    case Lamp::State::On:
        return {QColor(0x30, 0xd0, 0x30), QColor(0x10, 0x70, 0x10)};
    case Lamp::State::Off:
        return {QColor(0x2c, 0x48, 0x2c), QColor(0x18, 0x28, 0x18)};
    case Lamp::State::Unknown:
        return {QColor(0xe0, 0xc8, 0x40), QColor(0x80, 0x70, 0x20)};
    case Lamp::State::Absent:
        break;
    }
    return {QColor(0xc8, 0xc8, 0xc8), QColor(0x90, 0x90, 0x90)};
}

constexpr int Gap = 4;

} // namespace

Lamp::Lamp(const QString &name, QWidget *parent) : QLabel(name, parent) { }

void Lamp::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    update();
}

int Lamp::diameter() const { return fontMetrics().height() * 3 / 4; }

QSize Lamp::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    return {diameter() + Gap + fm.horizontalAdvance(text()) + 2, fm.height() + 2};
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Look look = lookOf(m_state);
    const int d = diameter();
    const QRectF light(1, (height() - d) / 2.0, d, d);
    QRadialGradient glow(light.center() - QPointF(d / 5.0, d / 5.0), d / 1.4);
    glow.setColorAt(0, look.light.lighter(m_state == State::On ? 150 : 115));
    glow.setColorAt(1, look.light);
    p.setPen(QPen(look.rim, 1));
    p.setBrush(glow);
    p.drawEllipse(light);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                             QPalette::WindowText));
    p.drawText(QRect(d + Gap + 1, 0, width() - d - Gap - 1, height()),
               Qt::AlignLeft | Qt::AlignVCenter, text());
}
