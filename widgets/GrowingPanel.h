// SPDX-License-Identifier: MIT
// A panel of the main window that is shown or hidden by the user: the window grows by the
// panel's height instead of taking it from the display, so nothing else moves or shrinks; a
// window of fixed size stays fixed, at its new height.
#pragma once

class QWidget;

namespace GrowingPanel {

void setShown(QWidget *panel, bool shown);

} // namespace GrowingPanel
