// SPDX-License-Identifier: MIT
// How a mode takes the main window over while it runs and hands it back when it ends.
#pragma once

#include "main/ModeTable.h"

#include <QColor>

class TForm1;
class QObject;

class ModeFrame
{
public:
    ModeFrame(TForm1 &form, Mode mode);

    // Sets the mode's flag and opens the port. When the port fails the flag is cleared again
    // and false returned; nothing else has changed. Otherwise the window is switched over:
    // the mode's controls off, Break on, Memo1's look, the panels and the status text.
    bool begin();

    // Clears Break and the flag, closes the port and gives every control of the column back.
    void end();

    // Enables or disables every control the column names.
    static void setColumnEnabled(TForm1 &form, Mode mode, bool enabled);
    static void setBreakEnabled(TForm1 &form, bool enabled);

private:
    TForm1 &m_form;
    const ModeColumn &m_column;
    QColor m_savedColour;
};
