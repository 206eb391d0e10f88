// SPDX-License-Identifier: MIT
// The find bar: Ctrl+F opens it under the display, typing finds and highlights, Enter and
// Shift+Enter (F3, Shift+F3) move on and back, Esc closes it, and the match stays on its text
// while output arrives.
#include "GuiHelpers.h"

#include "TForm1Controls.h"
#include "main/FindBar.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"

#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

namespace {

FindBar *bar() { return Form1->findChild<FindBar *>(QStringLiteral("FindBar")); }
QLineEdit *edit() { return bar()->findChild<QLineEdit *>(QStringLiteral("FindEdit")); }
TrafficView *memo() { return Form1->memo1(); }

std::optional<TextRange> found() { return memo()->foundRange(); }

bool foundAt(qsizetype l1, qsizetype c1, qsizetype l2, qsizetype c2)
{
    const std::optional<TextRange> f = found();
    return f && f->from == TextPosition {l1, c1} && f->to == TextPosition {l2, c2};
}

void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}

} // namespace

class TestFindBar : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        freshStart();
        Form1->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form1));
        memo()->setFocus();
    }
    void cleanupTestCase() { tearDownForms(); }

    void opensUnderTheDisplayAndCloses();
    void findsNextAndPrevious();
    void bytesAsTheFormShowsThem();
    void matchStaysOnItsTextWhileOutputArrives();
};

void TestFindBar::opensUnderTheDisplayAndCloses()
{
    QVERIFY(bar()->isHidden());
    const QSize window = Form1->size();
    const QSize display = memo()->size();
    press(Qt::Key_F, Qt::ControlModifier);
    QVERIFY(bar()->isVisible());
    QCOMPARE(QApplication::focusWidget(), edit());
    QVERIFY(waitUntil([&] { return memo()->size() == display; }));
    QCOMPARE(Form1->height(), window.height() + bar()->height());
    QCOMPARE(bar()->geometry().top(), memo()->geometry().bottom() + 1);
    press(Qt::Key_Escape);
    QVERIFY(bar()->isHidden());
    QCOMPARE(QApplication::focusWidget(), memo());
    QVERIFY(waitUntil([&] { return Form1->size() == window; }));
    QCOMPARE(memo()->size(), display);
}

void TestFindBar::findsNextAndPrevious()
{
    memo()->setPlainText(QStringLiteral("first ok\nsecond OK\nthird ok"));
    press(Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(edit(), QStringLiteral("o"));
    QVERIFY(foundAt(0, 6, 0, 7));
    QTest::keyClicks(edit(), QStringLiteral("k"));
    QVERIFY(foundAt(0, 6, 0, 8)); // typing on: from where the match began
    QCOMPARE(bar()->statusText(), QString());
    QCOMPARE(memo()->caret(), memo()->text().endPosition()); // the output's place is kept

    // The match is painted in its colour.
    const QImage shown = memo()->viewport()->grab().toImage();
    const QRect box = memo()->characterRect({0, 6});
    QCOMPARE(shown.pixelColor(box.center().x(), box.top() + 1),
             TrafficView::foundBackgroundColor());

    press(Qt::Key_Return);
    QVERIFY(foundAt(1, 7, 1, 9));
    press(Qt::Key_Return);
    QVERIFY(foundAt(2, 6, 2, 8));
    press(Qt::Key_Return);
    QVERIFY(foundAt(0, 6, 0, 8));
    QCOMPARE(bar()->statusText(), QStringLiteral("已從頭找起"));
    press(Qt::Key_Return, Qt::ShiftModifier);
    QVERIFY(foundAt(2, 6, 2, 8));
    QCOMPARE(bar()->statusText(), QStringLiteral("已從尾端找起"));
    press(Qt::Key_F3, Qt::ShiftModifier);
    QVERIFY(foundAt(1, 7, 1, 9));
    press(Qt::Key_F3);
    QVERIFY(foundAt(2, 6, 2, 8));

    bar()->findChild<QCheckBox *>(QStringLiteral("FindMatchCaseCheckBox"))->click();
    QVERIFY(foundAt(2, 6, 2, 8));
    edit()->setFocus();
    press(Qt::Key_Return);
    QVERIFY(foundAt(0, 6, 0, 8)); // "OK" is passed over
    QTest::keyClicks(edit(), QStringLiteral("x"));
    QVERIFY(!found());
    QCOMPARE(bar()->statusText(), QStringLiteral("找不到"));
    press(Qt::Key_Escape);
    QVERIFY(!found());
}

void TestFindBar::bytesAsTheFormShowsThem()
{
    TForm1Controls(Form1).HexModeMenuBar->trigger();
    memo()->setPlainText(QStringLiteral("41 0D \n0A 42 "));
    press(Qt::Key_F, Qt::ControlModifier);
    bar()->findChild<QCheckBox *>(QStringLiteral("FindHexCheckBox"))->click();
    edit()->setFocus();
    QTest::keyClicks(edit(), QStringLiteral("0d0a"));
    QVERIFY(foundAt(0, 3, 1, 2));
    QTest::keyClicks(edit(), QStringLiteral("4"));
    QVERIFY(!found());
    QCOMPARE(bar()->statusText(), QStringLiteral("16 進制位元組須兩位數一組:「0d0a4」"));

    TForm1Controls(Form1).ASCIIModeMenuBar->trigger();
    memo()->setPlainText(QStringLiteral("A<CR>\n<LF>"));
    edit()->clear();
    edit()->setFocus();
    QTest::keyClicks(edit(), QStringLiteral("410D0A"));
    QVERIFY(foundAt(0, 0, 1, 4));
}

void TestFindBar::matchStaysOnItsTextWhileOutputArrives()
{
    QString text;
    for (int i = 0; i < 200; ++i)
        text += QStringLiteral("line %1\n").arg(i);
    memo()->setPlainText(text);
    memo()->setCaret({150, 2});
    press(Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(edit(), QStringLiteral("line 10"));
    QVERIFY(foundAt(10, 0, 10, 7));
    const int top = memo()->verticalScrollBar()->value();
    QVERIFY(top <= 10 && top + memo()->verticalScrollBar()->pageStep() > 10);
    // Output goes to the caret, below the match: neither moves.
    memo()->insertAtCaret(u"xx\nyy");
    QVERIFY(foundAt(10, 0, 10, 7));
    QCOMPARE(memo()->verticalScrollBar()->value(), top);
    // Above it, on its line and before it: the match goes with its text.
    memo()->setCaret({10, 0});
    memo()->insertAtCaret(u"a\nb");
    QVERIFY(foundAt(11, 1, 11, 8));
    QCOMPARE(memo()->text().lineText(11, 1, 8), QStringLiteral("line 10"));
    // Clear takes it away with the text.
    TForm1Controls(Form1).ClearDataButton->click();
    QVERIFY(!found());
}

QTEST_MAIN(TestFindBar)
#include "tst_findbar.moc"
