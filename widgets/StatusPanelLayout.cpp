// SPDX-License-Identifier: MIT
#include "StatusPanelLayout.h"

#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace {

// Raises each width from its floor toward its ceiling by one common level, as high as `room`
// allows: a panel below the level gets up to it, one that needs less stops at its ceiling.
// Returns the room that is left.
int raiseTo(QList<int> &widths, const QList<int> &ceilings, int room)
{
    const auto total = [&](int level) {
        int sum = 0;
        for (qsizetype i = 0; i < widths.size(); ++i)
            sum += std::clamp(level, widths[i], std::max(widths[i], ceilings[i]));
        return sum;
    };
    int spent = 0;
    for (int w : widths)
        spent += w;
    int top = 0;
    for (qsizetype i = 0; i < widths.size(); ++i)
        top = std::max({top, widths[i], ceilings[i]});
    if (total(top) - spent <= room) {
        for (qsizetype i = 0; i < widths.size(); ++i)
            widths[i] = std::max(widths[i], ceilings[i]);
        return room - (total(top) - spent);
    }
    // The highest level that fits; the pixels short of the next go one each, left to right.
    int low = 0;
    int high = top;
    while (low < high) {
        const int mid = low + (high - low + 1) / 2;
        if (total(mid) - spent <= room)
            low = mid;
        else
            high = mid - 1;
    }
    int left = room - (total(low) - spent);
    for (qsizetype i = 0; i < widths.size(); ++i) {
        const int raised = std::clamp(low, widths[i], std::max(widths[i], ceilings[i]));
        const bool rises = raised == low && low < ceilings[i];
        widths[i] = raised + (rises && left > 0 ? 1 : 0);
        if (rises && left > 0)
            --left;
    }
    return left;
}

} // namespace

StatusPanelLayout::StatusPanelLayout(QWidget *parent) : QLayout(parent)
{
    setContentsMargins(0, 0, 0, 0);
    // What QStatusBar keeps between its own items.
    setSpacing(6);
}

StatusPanelLayout::~StatusPanelLayout()
{
    for (const Panel &p : std::as_const(m_panels))
        delete p.item;
}

void StatusPanelLayout::addPanel(QWidget *panel, int width)
{
    addChildWidget(panel);
    m_panels.append({new QWidgetItem(panel), width});
    invalidate();
}

void StatusPanelLayout::addItem(QLayoutItem *item) { m_panels.append({item, 0}); }

QLayoutItem *StatusPanelLayout::itemAt(int index) const
{
    return index >= 0 && index < m_panels.size() ? m_panels[index].item : nullptr;
}

QLayoutItem *StatusPanelLayout::takeAt(int index)
{
    if (index < 0 || index >= m_panels.size())
        return nullptr;
    QLayoutItem *item = m_panels.takeAt(index).item;
    invalidate();
    return item;
}

QList<StatusPanelLayout::Panel> StatusPanelLayout::shown() const
{
    QList<Panel> panels;
    for (const Panel &p : m_panels) {
        if (!p.item->isEmpty())
            panels.append(p);
    }
    return panels;
}

int StatusPanelLayout::spacingWidth(qsizetype panels) const
{
    return panels > 1 ? int(panels - 1) * spacing() : 0;
}

QSize StatusPanelLayout::sizeHint() const
{
    const QList<Panel> panels = shown();
    QSize size(spacingWidth(panels.size()), 0);
    for (const Panel &p : panels) {
        const QSize hint = p.item->sizeHint();
        size.rwidth() += std::max(hint.width(), p.width);
        size.rheight() = std::max(size.height(), hint.height());
    }
    return size;
}

QSize StatusPanelLayout::minimumSize() const
{
    const QList<Panel> panels = shown();
    QSize size(spacingWidth(panels.size()), 0);
    for (const Panel &p : panels) {
        const QSize minimum = p.item->minimumSize();
        size.rwidth() += minimum.width();
        size.rheight() = std::max(size.height(), minimum.height());
    }
    return size;
}

void StatusPanelLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    const QList<Panel> panels = shown();
    if (panels.isEmpty())
        return;
    QList<int> minimums;
    QList<int> wholes;
    QList<int> owns;
    for (const Panel &p : panels) {
        minimums.append(p.item->minimumSize().width());
        wholes.append(std::max(minimums.last(), p.item->sizeHint().width()));
        owns.append(std::max(wholes.last(), p.width));
    }
    int room = rect.width() - spacingWidth(panels.size());
    int needed = 0;
    for (int m : minimums)
        needed += m;
    QList<int> widths;
    if (needed > room) {
        widths = QList<int>(panels.size(), 0);
        raiseTo(widths, minimums, std::max(room, 0));
    } else {
        widths = minimums;
        room -= needed;
        room = raiseTo(widths, wholes, room);
        room = raiseTo(widths, owns, room);
        for (qsizetype i = 0; i < panels.size(); ++i) {
            if (panels[i].item->widget() == m_growing)
                widths[i] += room;
        }
    }
    int x = rect.left();
    for (qsizetype i = 0; i < panels.size(); ++i) {
        const QRect r(x, rect.top(), widths[i], rect.height());
        panels[i].item->setGeometry(QStyle::visualRect(parentWidget()->layoutDirection(), rect, r));
        x += widths[i] + spacing();
    }
}
