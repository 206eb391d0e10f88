// SPDX-License-Identifier: MIT
// The control-code picker, the insertion rule every "插入控制碼" button follows, and the two
// send dialogs' buttons that use it.
#include "GuiHelpers.h"

#include "send/CodeInsertion.h"
#include "traffic/ControlCodes.h"
#include "send/Telvixmain3.h"
#include "send/Telvixmain4.h"
#include "send/Telvixmain5.h"
#include "TForm3Controls.h"
#include "TForm4Controls.h"
#include "TForm5Controls.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace {

// Answers the picker: checks RadioButton<n> (0: leaves the choice as it is) and leaves the
// dialog by `how`: "insert", "cancel", "escape" or "close".
void answerPicker(int n, const QString &how = QStringLiteral("insert"))
{
    answerNextModal([n, how](QWidget *w) {
        auto *picker = qobject_cast<TForm5 *>(w);
        QVERIFY(picker);
        if (n > 0)
            picker->radioButton(n)->click();
        if (how == u"insert")
            TForm5Controls(picker).BitBtn1->click();
        else if (how == u"cancel")
            TForm5Controls(picker).BitBtn2->click();
        else if (how == u"escape")
            QTest::keyClick(picker, Qt::Key_Escape);
        else
            picker->close();
    });
}

QString glyph(int code) { return QString(*ControlCodes::glyphFor(uint8_t(code))); }

} // namespace

class TestPicker : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void pickerLayout();
    void pickerResults_data();
    void pickerResults();
    void choiceSurvivesCancel();
    void insertionRule_data();
    void insertionRule();
    void echoBoxKeepsSelection_data();
    void echoBoxKeepsSelection();
    void stringDialogButton_data();
    void stringDialogButton();
    void selectionSurvivesClickOnButton();
    void fileDialogTargets();
    void fileDialogFullBox();
};

void TestPicker::pickerLayout()
{
    const TForm5Controls &ui = TForm5Controls(Form5);
    QCOMPARE(Form5->windowTitle(), QStringLiteral("要插入的字碼選擇表"));
    QCOMPARE(Form5->size(), QSize(459, 299));
    QCOMPARE(Form5->minimumSize(), Form5->maximumSize());
    QCOMPARE(ui.GroupBox1->title(), QStringLiteral("請選擇你要插入的字元控制碼"));
    QCOMPARE(ui.BitBtn1->text(), QStringLiteral("插入"));
    QCOMPARE(ui.BitBtn2->text(), QStringLiteral("取消"));
    QVERIFY(ui.BitBtn1->isDefault());
    QCOMPARE(ui.Label1->text(),
             QStringLiteral(
                     "表中字元符號為 IBM PC/AT 控制碼參考,遇不同系統時,其字元符號將有所不同"));
    QCOMPARE(ui.Label2->text(), QStringLiteral("但,程式實際插入之控制碼,仍以 16 進制碼為主要碼"));
    QVERIFY(ui.RadioButton1->isChecked());
    QWidget *previous = nullptr;
    for (int n = 1; n <= 32; ++n) {
        QRadioButton *button = Form5->radioButton(n);
        QVERIFY(button);
        QCOMPARE(button->parentWidget(), ui.GroupBox1);
        QCOMPARE(button->text(), ControlCodes::caption(uint8_t(n - 1)));
        // Three columns, top to bottom: 00h-0Ah, 0Bh-15h, 16h-1Fh.
        const int column = n <= 11 ? 0 : n <= 22 ? 1 : 2;
        QCOMPARE(button->x(), Form5->radioButton(column == 0 ? 1 : column == 1 ? 12 : 23)->x());
        if (previous) {
            QCOMPARE(previous->nextInFocusChain(), button);
            if (n != 12 && n != 23)
                QVERIFY(button->y() > previous->y());
        }
        previous = button;
    }
    QVERIFY(Form5->radioButton(12)->x() > Form5->radioButton(1)->x());
    QVERIFY(Form5->radioButton(23)->x() > Form5->radioButton(12)->x());
}

void TestPicker::pickerResults_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("insert") << "insert" << 6;
    QTest::newRow("cancel") << "cancel" << 2;
    QTest::newRow("escape") << "escape" << 2;
    QTest::newRow("close box") << "close" << 2;
}

void TestPicker::pickerResults()
{
    QFETCH(QString, how);
    QFETCH(int, result);
    answerPicker(0, how);
    QCOMPARE(Form5->exec(), result);
}

void TestPicker::choiceSurvivesCancel()
{
    answerPicker(14, QStringLiteral("cancel"));
    const CodeInsertion::Pick cancelled = CodeInsertion::pick();
    QVERIFY(!cancelled.accepted);
    QVERIFY(!cancelled.code);
    // Reopened untouched, the new choice is still checked.
    answerPicker(0);
    const CodeInsertion::Pick again = CodeInsertion::pick();
    QVERIFY(again.accepted);
    QCOMPARE(again.code, std::optional<uint8_t>(0x0D));
    answerPicker(1);
    const CodeInsertion::Pick null = CodeInsertion::pick();
    QVERIFY(null.accepted);
    QVERIFY(!null.code);
}

void TestPicker::insertionRule_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maxLength");
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selLength"); // 0: caret at selStart
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("caret");
    const QString stx = glyph(2);
    QTest::newRow("empty box") << "" << 10 << 0 << 0 << 2 << stx << 1;
    QTest::newRow("at caret") << "abcd" << 10 << 2 << 0 << 2 << "ab" + stx + "cd" << 3;
    QTest::newRow("at end") << "abcd" << 10 << 4 << 0 << 2 << "abcd" + stx << 5;
    QTest::newRow("selection replaced") << "abcd" << 10 << 1 << 2 << 2 << "a" + stx + "d" << 2;
    QTest::newRow("all replaced") << "abcd" << 10 << 0 << 4 << 0x1F << glyph(0x1F) << 1;
    QTest::newRow("full box") << "0123456789" << 10 << 3 << 0 << 2 << "0123456789" << 3;
    QTest::newRow("full box, selection frees room")
            << "0123456789" << 10 << 3 << 1 << 0x1B << "012" + glyph(0x1B) + "456789" << 4;
    QTest::newRow("one-character box") << "x" << 1 << 0 << 1 << 0x0A << glyph(0x0A) << 1;
    QTest::newRow("00h") << "abcd" << 10 << 1 << 2 << 0 << "abcd" << 3;
}

void TestPicker::insertionRule()
{
    QFETCH(QString, text);
    QFETCH(int, maxLength);
    QFETCH(int, selStart);
    QFETCH(int, selLength);
    QFETCH(int, code);
    QFETCH(QString, expected);
    QFETCH(int, caret);
    QLineEdit box;
    box.setMaxLength(maxLength);
    box.setText(text);
    if (selLength > 0)
        box.setSelection(selStart, selLength);
    else
        box.setCursorPosition(selStart);
    const bool inserted = CodeInsertion::insertCode(&box, uint8_t(code));
    QCOMPARE(inserted, expected != text);
    QCOMPARE(box.text(), expected);
    QCOMPARE(box.cursorPosition(), caret);
    QVERIFY(!box.hasSelectedText() || !inserted);
}

void TestPicker::echoBoxKeepsSelection_data()
{
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selLength");
    QTest::addColumn<QString>("expected");
    QTest::newRow("selection stays") << 1 << 2 << "hel" + glyph(3) + "lo";
    QTest::newRow("backward selection") << 3 << -2 << "hel" + glyph(3) + "lo";
    QTest::newRow("caret only") << 5 << 0 << "hello" + glyph(3);
}

void TestPicker::echoBoxKeepsSelection()
{
    QFETCH(int, selStart);
    QFETCH(int, selLength);
    QFETCH(QString, expected);
    QPlainTextEdit box;
    box.setPlainText(QStringLiteral("hello"));
    QTextCursor cursor = box.textCursor();
    cursor.setPosition(selStart);
    cursor.setPosition(selStart + selLength, QTextCursor::KeepAnchor);
    box.setTextCursor(cursor);
    answerPicker(4);
    QVERIFY(CodeInsertion::pickAndInsertAfterSelection(&box));
    QCOMPARE(box.toPlainText(), expected);
    QCOMPARE(box.textCursor().position(), expected.indexOf(glyph(3)) + 1);
}

void TestPicker::stringDialogButton_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("expected");
    QTest::newRow("CR") << 14 << "insert"
                        << "AB" + glyph(0x0D);
    QTest::newRow("ESC") << 28 << "insert"
                         << "AB" + glyph(0x1B);
    QTest::newRow("NULL") << 1 << "insert"
                          << "AB";
    QTest::newRow("cancel") << 14 << "cancel"
                            << "AB";
    QTest::newRow("escape") << 14 << "escape"
                            << "AB";
    QTest::newRow("close box") << 14 << "close"
                               << "AB";
}

void TestPicker::stringDialogButton()
{
    QFETCH(int, button);
    QFETCH(QString, how);
    QFETCH(QString, expected);
    const TForm4Controls &ui = TForm4Controls(Form4);
    Form4->show();
    ui.Edit1->setText(QStringLiteral("AB"));
    answerPicker(button, how);
    ui.BitBtn3->click();
    QCOMPARE(ui.Edit1->text(), expected);
    Form4->hide();
}

void TestPicker::selectionSurvivesClickOnButton()
{
    const TForm4Controls &ui = TForm4Controls(Form4);
    Form4->show();
    QVERIFY(QTest::qWaitForWindowActive(Form4));
    ui.Edit1->setText(QStringLiteral("hello"));
    ui.Edit1->setFocus();
    ui.Edit1->setSelection(1, 3);
    // Leaving the box for the button drops the box's own selection.
    QTest::keyClick(ui.Edit1, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), ui.BitBtn3);
    QVERIFY(!ui.Edit1->hasSelectedText());
    answerPicker(3);
    QTest::keyClick(ui.BitBtn3, Qt::Key_Space);
    QCOMPARE(ui.Edit1->text(), "h" + glyph(2) + "o");
    QCOMPARE(ui.Edit1->cursorPosition(), 2);
    Form4->hide();
}

void TestPicker::fileDialogTargets()
{
    const TForm3Controls &ui = TForm3Controls(Form3);
    Form3->show();
    QVERIFY(QTest::qWaitForWindowActive(Form3));
    QCOMPARE(CtrlCodeTarget, 1);
    // Neither box has lost the focus yet: the head string gets the code, and for good.
    ui.CancelButton->setFocus();
    answerPicker(3);
    ui.InsertCtrlCodeButton->click();
    QCOMPARE(ui.HeadStringEdit->text(), glyph(2));
    QCOMPARE(CtrlCodeTarget, 2);

    // Typing in the end box, then the button: the focus leaves the end box.
    Form3->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form3));
    ui.EndStringEdit->setFocus();
    QTest::keyClicks(ui.EndStringEdit, QStringLiteral("ok"));
    QTest::keyClick(ui.EndStringEdit, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), ui.InsertCtrlCodeButton);
    answerPicker(4);
    QTest::keyClick(ui.InsertCtrlCodeButton, Qt::Key_Space);
    QCOMPARE(CtrlCodeTarget, 3);
    QCOMPARE(ui.EndStringEdit->text(), "ok" + glyph(3));
    QCOMPARE(ui.HeadStringEdit->text(), glyph(2));

    // Cancelled or 00h: nothing goes in anywhere.
    answerPicker(5, QStringLiteral("cancel"));
    ui.InsertCtrlCodeButton->click();
    answerPicker(1);
    ui.InsertCtrlCodeButton->click();
    QCOMPARE(ui.EndStringEdit->text(), "ok" + glyph(3));
    QCOMPARE(ui.HeadStringEdit->text(), glyph(2));

    // Back in the head box: leaving it makes it the target again.
    Form3->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form3));
    ui.HeadStringEdit->setFocus();
    QTest::keyClick(ui.HeadStringEdit, Qt::Key_Tab);
    QCOMPARE(CtrlCodeTarget, 2);
    Form3->hide();
}

void TestPicker::fileDialogFullBox()
{
    const TForm3Controls &ui = TForm3Controls(Form3);
    Form3->show();
    QCOMPARE(ui.HeadStringEdit->maxLength(), 10);
    QCOMPARE(ui.EndStringEdit->maxLength(), 10);
    ui.HeadStringEdit->setText(QStringLiteral("0123456789"));
    ui.HeadStringEdit->setCursorPosition(5);
    answerPicker(3);
    ui.InsertCtrlCodeButton->click();
    QCOMPARE(ui.HeadStringEdit->text(), QStringLiteral("0123456789"));
    Form3->hide();
}

QTEST_MAIN(TestPicker)
#include "tst_picker.moc"
