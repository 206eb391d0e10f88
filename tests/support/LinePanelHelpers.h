// SPDX-License-Identifier: MIT
// What the line panel's tests share: its controls by name, what a screen reader hears of one,
// and the records of one kind the capture holds.
#pragma once

#include "main/LinePanel.h"
#include "main/Telvixmain1.h"

#include <QAccessible>
#include <QList>
#include <QWidget>

inline LinePanel *panel() { return Form1->linePanel(); }

template<typename T>
T *panelChild(const char *name)
{
    T *w = panel()->findChild<T *>(QLatin1String(name));
    Q_ASSERT(w);
    return w;
}

inline QString spoken(QWidget *w)
{
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(QAccessible::Name) : QString();
}

inline QList<TrafficRecord> captured(TrafficKind kind)
{
    QList<TrafficRecord> found;
    Form1->capture().forEach([&](const TrafficRecord &r) {
        if (r.kind == kind)
            found.append(r);
    });
    return found;
}
