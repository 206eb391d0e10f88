// SPDX-License-Identifier: MIT
// The named colours the dialogs' texts are drawn in.
#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

namespace TextColours {

inline const QColor Navy {0x00, 0x00, 0x80};
inline const QColor Purple {0x80, 0x00, 0x80};
inline const QColor Blue {0x00, 0x00, 0xFF};
inline const QColor Green {0x00, 0x80, 0x00};
inline const QColor Red {0xFF, 0x00, 0x00};
inline const QColor Teal {0x00, 0x80, 0x80};

// Labels and group titles use WindowText, edit boxes Text. A palette passes on to the
// children, so the buttons of a group share its colour.
inline void set(QWidget *widget, QPalette::ColorRole role, const QColor &colour)
{
    QPalette p = widget->palette();
    p.setColor(role, colour);
    widget->setPalette(p);
}

} // namespace TextColours
