// SPDX-License-Identifier: MIT
// Window sizes given with the frame, as the window manager draws it around a top-level.
#pragma once

#include <QSize>
#include <QWidget>

namespace OuterSize {

// Fixes the window so that its frame measures `outer`. Before the window manager has framed
// the window its margins are not known, and the client area takes the whole size.
inline void setFixed(QWidget *window, QSize outer)
{
    const QSize margins = window->frameGeometry().size() - window->size();
    window->setFixedSize(outer - margins);
}

} // namespace OuterSize
