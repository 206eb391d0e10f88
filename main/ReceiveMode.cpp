// SPDX-License-Identifier: MIT
// Receive mode: every byte that arrives is shown until Break.
#include "main/Telvixmain1.h"

#include "ui_Telvixmain1.h"

#include "main/DisplayFormatter.h"
#include "main/ModeFrame.h"
#include "main/ModeState.h"
#include "main/ReadLoop.h"

void TForm1::ShowDataToMemo1(uint8_t byte) { showBytes(&byte, 1); }

void TForm1::showBytes(const uint8_t *bytes, size_t count)
{
    QString shown;
    DisplayFormatter::appendShown(bytes, count, shown);
    ui->Memo1->insertAtCaret(shown);
}

void TForm1::StartRecMenuBarClick()
{
    ui->Memo1->setFocus();
    ModeFrame frame(*this, Mode::Receive);
    if (!frame.begin())
        return;
    ModeState::BreakRequested = 0;
    // The bytes of one pass become one insertion: the same text at the same place as one
    // insertion per piece, without paying for the display once per byte.
    QString shown;
    ReadLoop::run([&shown](const uint8_t *bytes,
                           size_t count) { DisplayFormatter::appendShown(bytes, count, shown); },
                  [this, &shown] {
                      ui->Memo1->insertAtCaret(shown);
                      shown.clear();
                  });
    frame.end();
}
