// SPDX-License-Identifier: MIT
#include "GrowingPanel.h"

#include <QWidget>

namespace GrowingPanel {

void setShown(QWidget *panel, bool shown)
{
    if (shown == panel->isVisible())
        return;
    QWidget *w = panel->window();
    // A panel of fixed height has it whatever its layout hints.
    const int rowHeight =
            qBound(panel->minimumHeight(), panel->sizeHint().height(), panel->maximumHeight());
    const bool fixed = w->minimumHeight() == w->maximumHeight();
    panel->setVisible(shown);
    const int height = w->height() + (shown ? rowHeight : -rowHeight);
    if (fixed)
        w->setFixedHeight(height);
    else
        w->resize(w->width(), height);
}

} // namespace GrowingPanel
