// SPDX-License-Identifier: MIT
#include "ElidedLabel.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>

#include <cmath>

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent)
{
    // Texts come from devices and servers as well: a '<' in them is no markup.
    setTextFormat(Qt::PlainText);
    // The widths come from the text, never from the label's own wishes.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void ElidedLabel::setText(const QString &text)
{
    // Panels are set again and again with what they already say (each pass of a send's loop);
    // only a change may cost a layout of the bar.
    if (text == QLabel::text())
        return;
    QLabel::setText(text);
    setAccessibleName(text);
    updateToolTip();
    updateGeometry();
    update();
}

void ElidedLabel::setDetails(const QString &details)
{
    m_details = details;
    updateToolTip();
}

void ElidedLabel::setShortestWidth(int width)
{
    m_shortest = width;
    updateGeometry();
}

void ElidedLabel::updateToolTip()
{
    setToolTip(m_details.isEmpty() || text().isEmpty() ? text() + m_details
                                                       : text() + u'\n' + m_details);
}

// Between the label's edges and its text: the frame, the contents margins and QLabel's margin.
int ElidedLabel::textRoom() const { return contentsRect().width() - 2 * margin(); }

QString ElidedLabel::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, textRoom());
}

QSize ElidedLabel::sizeHint() const
{
    // Fractions of a pixel count: a text one fraction too wide would lose its middle.
    const int advance = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(text())));
    const int edges = width() - textRoom();
    return {advance + edges, QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QSize whole = sizeHint();
    return {m_shortest > 0 ? qMin(whole.width(), m_shortest) : whole.width(), whole.height()};
}

void ElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);
    const int m = margin();
    const QRect room = contentsRect().adjusted(m, m, -m, -m);
    style()->drawItemText(&painter, room, QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), shownText(), foregroundRole());
}
