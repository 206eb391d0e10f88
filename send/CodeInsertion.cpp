// SPDX-License-Identifier: MIT
#include "CodeInsertion.h"

#include "send/Telvixmain5.h"
#include "traffic/ControlCodes.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>

namespace CodeInsertion {

namespace {

// Remembers a line box's selection as it was when the focus left it.
class SelectionKeeper : public QObject
{
public:
    static constexpr const char *Name = "telvixSelectionKeeper";

    explicit SelectionKeeper(QLineEdit *box) : QObject(box), m_box(box)
    {
        setObjectName(QLatin1String(Name));
        box->installEventFilter(this);
    }

    // Puts the remembered selection back into a box that does not have the focus.
    void restore() const
    {
        if (m_box->hasFocus() || m_textAtFocusOut != m_box->text())
            return; // changed since by the program: its own caret holds
        if (m_selectionLength > 0)
            m_box->setSelection(m_selectionStart, m_selectionLength);
        else
            m_box->setCursorPosition(m_cursor);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Runs before the box's own focus-out handling, which drops the selection. A box being
        // destroyed loses the focus too, when it is no longer a line edit: the cast says so.
        if (event->type() == QEvent::FocusOut && qobject_cast<QLineEdit *>(watched) == m_box) {
            m_textAtFocusOut = m_box->text();
            m_selectionStart = m_box->selectionStart();
            m_selectionLength = m_box->selectionLength();
            m_cursor = m_box->cursorPosition();
        }
        return false;
    }

private:
    QLineEdit *m_box;
    QString m_textAtFocusOut;
    int m_selectionStart = -1;
    int m_selectionLength = 0;
    int m_cursor = 0;
};

SelectionKeeper *keeperOf(QLineEdit *box)
{
    // Found by name: the keeper has no meta-object of its own to be cast by.
    return static_cast<SelectionKeeper *>(box->findChild<QObject *>(
            QLatin1String(SelectionKeeper::Name), Qt::FindDirectChildrenOnly));
}

} // namespace

Pick pick()
{
    Pick result;
    result.accepted = Form5->exec() == TForm5::ResultInsert;
    if (result.accepted)
        result.code = Form5->checkedCode();
    return result;
}

bool insertCode(QLineEdit *box, uint8_t code)
{
    const std::optional<QChar> glyph = ControlCodes::glyphFor(code);
    if (!glyph)
        return false;
    if (const SelectionKeeper *keeper = keeperOf(box))
        keeper->restore();
    if (box->text().size() - box->selectedText().size() >= box->maxLength())
        return false;
    // Replaces the selection and leaves the caret after the insertion, as typing would.
    box->insert(QString(*glyph));
    return true;
}

bool insertCodeAfterSelection(QPlainTextEdit *box, uint8_t code)
{
    const std::optional<QChar> glyph = ControlCodes::glyphFor(code);
    if (!glyph)
        return false;
    QTextCursor cursor = box->textCursor();
    cursor.setPosition(cursor.selectionEnd());
    cursor.insertText(QString(*glyph));
    box->setTextCursor(cursor);
    return true;
}

bool pickAndInsert(QLineEdit *box)
{
    const Pick picked = pick();
    return picked.code && insertCode(box, *picked.code);
}

bool pickAndInsertAfterSelection(QPlainTextEdit *box)
{
    const Pick picked = pick();
    return picked.code && insertCodeAfterSelection(box, *picked.code);
}

void keepSelection(QLineEdit *box)
{
    if (!keeperOf(box))
        new SelectionKeeper(box);
}

} // namespace CodeInsertion
