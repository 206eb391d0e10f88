// SPDX-License-Identifier: MIT
// Putting a control code picked in the picker (TForm5) into a text box: the one rule every
// "插入控制碼" button follows.
#pragma once

#include <cstdint>
#include <optional>

class QLineEdit;
class QPlainTextEdit;

namespace CodeInsertion {

struct Pick
{
    bool accepted = false; // the picker was left with Insert
    std::optional<uint8_t> code; // 01h-1Fh; nothing when 00h was checked or the picker was left
};

// Shows the picker modally, as it was left last time, and reads the code that is checked.
Pick pick();

// The rule: the code (as its glyph) replaces the box's selection, or goes in at the caret when
// nothing is selected; the caret ends just after it. The box's length limit holds as for a
// typed character, counted without the selection being replaced. False when the box was full.
// A box that has lost the focus still counts the selection it had (see keepSelection).
bool insertCode(QLineEdit *box, uint8_t code);

// The terminal's echo box: the selection stays and the code lands right after it, the caret
// after the code. Its focus is not moved.
bool insertCodeAfterSelection(QPlainTextEdit *box, uint8_t code);

// What a caller's button does: pick, then insert by the rule. False when nothing went in.
bool pickAndInsert(QLineEdit *box);
bool pickAndInsertAfterSelection(QPlainTextEdit *box);

// A one-line box forgets its selection when the focus leaves it, so clicking an insert button
// would lose what the user selected. This keeps it for insertCode.
void keepSelection(QLineEdit *box);

} // namespace CodeInsertion
