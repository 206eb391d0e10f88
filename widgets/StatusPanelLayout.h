// SPDX-License-Identifier: MIT
// The panels of a status bar side by side, shared out so that no text is cut while another
// panel has room to spare, and no panel is ever drawn over its neighbour:
//  1. every shown panel gets its minimum (its whole text, or the shortest it may be elided to);
//  2. the room left goes to the panels still short of their whole text, the narrowest first,
//     so that only the longest texts are elided and each of them as little as can be;
//  3. then, the same way, toward each panel's own width;
//  4. what is left after that goes to the one panel that takes the rest.
// Below the sum of the minimums the panels shrink alike instead of overlapping.
#pragma once

#include <QLayout>
#include <QList>

class StatusPanelLayout : public QLayout
{
public:
    explicit StatusPanelLayout(QWidget *parent);
    ~StatusPanelLayout() override;

    // `width`: how wide the panel is when there is room for it; a longer text widens it.
    void addPanel(QWidget *panel, int width);
    void setGrowingPanel(QWidget *panel) { m_growing = panel; }

    void addItem(QLayoutItem *item) override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    int count() const override { return int(m_panels.size()); }
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect &rect) override;
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }

private:
    struct Panel
    {
        QLayoutItem *item = nullptr;
        int width = 0;
    };
    QList<Panel> shown() const;
    int spacingWidth(qsizetype panels) const;

    QList<Panel> m_panels;
    QWidget *m_growing = nullptr;
};
