// SPDX-License-Identifier: MIT
// Driving the settings dialog as a user does: open it from the menu, work its controls, leave.
#pragma once

#include "GuiHelpers.h"

#include "main/Telvixmain1.h"
#include "settings/Telvixmain6.h"
#include "TForm1Controls.h"
#include "TForm6Controls.h"

#include <QAbstractButton>
#include <QColorDialog>
#include <QTest>

#include <functional>

namespace SettingsTest {

enum class Leave { Ok, Cancel, Escape, CloseBox };

// A radio button or check box takes a click on its box or caption, not on the empty rest.
// The window must be active first, as for a user: a click into a window that has not yet
// been activated (the dialog just shown, or back from a dialog of its own) moves no focus.
inline void clickOn(QAbstractButton *button)
{
    QVERIFY(QTest::qWaitForWindowActive(button->window()));
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

inline void leave(TForm6 *dialog, Leave how)
{
    switch (how) {
    case Leave::Ok:
        TForm6Controls(dialog).BitBtn1->click();
        break;
    case Leave::Cancel:
        TForm6Controls(dialog).BitBtn2->click();
        break;
    case Leave::Escape:
        QTest::keyClick(dialog, Qt::Key_Escape);
        break;
    case Leave::CloseBox:
        dialog->close();
        break;
    }
}

// Opens the dialog with the menu item, runs `work` on it while it is up, then leaves it.
// Returns the dialog's modal result.
inline int runSettings(const std::function<void(const TForm6Controls &)> &work, Leave how)
{
    int result = -1;
    QObject::connect(
            Form6, &QDialog::finished, Form6, [&result](int r) { result = r; },
            Qt::SingleShotConnection);
    answerNextModal([work, how](QWidget *w) {
        auto *dialog = qobject_cast<TForm6 *>(w);
        QVERIFY(dialog);
        work(TForm6Controls(dialog));
        leave(dialog, how);
    });
    TForm1Controls(Form1).MiscMenuBar->trigger();
    return result;
}

// Picks `colour` in the colour dialog that `MemoColorButton` opens, or cancels it when the
// colour is invalid. `opened` receives the colour the dialog came up with.
inline void pickColour(const TForm6Controls &ui, const QColor &colour, QColor *opened = nullptr)
{
    answerNextModal([colour, opened](QWidget *w) {
        auto *dialog = qobject_cast<QColorDialog *>(w);
        QVERIFY(dialog);
        if (opened)
            *opened = dialog->currentColor();
        if (colour.isValid()) {
            dialog->setCurrentColor(colour);
            dialog->accept();
        } else {
            dialog->reject();
        }
    });
    ui.MemoColorButton->click();
}

inline QColor panelColour(const QWidget *panel) { return panel->palette().color(QPalette::Window); }

} // namespace SettingsTest
