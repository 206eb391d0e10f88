// SPDX-License-Identifier: MIT
// The program as a screen reader sees it, through Qt's accessibility API in this process: the
// traffic display as a text box (text, offsets, words and lines, caret, selection, editing
// refused during a mode, the events that tell what changed), and every control of the six
// forms with a name or a text to read. Runs under an AT-SPI session, so that Qt's bridge is
// active as it is for a user with a screen reader.
#include "GuiHelpers.h"
#include "Pty.h"

#include "session/ModeFrame.h"
#include "session/ModeState.h"
#include "session/ReceivedDisplay.h"
#include "main/CommandPanel.h"
#include "main/ScriptWindow.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "main/TrafficViewAccessible.h"
#include "send/Telvixmain3.h"
#include "send/Telvixmain4.h"
#include "send/Telvixmain5.h"
#include "serial/PortSettings.h"
#include "serial/Telvixmain2.h"
#include "settings/Telvixmain6.h"
#include "TForm1Controls.h"
#include "TForm3Controls.h"

#include <QAccessible>
#include <QLabel>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

namespace {

// What an assistive technology was told, as the update handler sees it.
struct Told
{
    QAccessible::Event type = QAccessible::InvalidEvent;
    QObject *object = nullptr;
    int position = -1;
    QString inserted;
    QString removed;
    int cursor = -1;
};
QList<Told> told;

void record(QAccessibleEvent *event)
{
    Told t;
    t.type = event->type();
    t.object = event->object();
    switch (event->type()) {
    case QAccessible::TextInserted: {
        auto *e = static_cast<QAccessibleTextInsertEvent *>(event);
        t.position = e->changePosition();
        t.inserted = e->textInserted();
        break;
    }
    case QAccessible::TextRemoved: {
        auto *e = static_cast<QAccessibleTextRemoveEvent *>(event);
        t.position = e->changePosition();
        t.removed = e->textRemoved();
        break;
    }
    case QAccessible::TextUpdated: {
        auto *e = static_cast<QAccessibleTextUpdateEvent *>(event);
        t.position = e->changePosition();
        t.inserted = e->textInserted();
        t.removed = e->textRemoved();
        break;
    }
    case QAccessible::TextCaretMoved:
        t.cursor = static_cast<QAccessibleTextCursorEvent *>(event)->cursorPosition();
        break;
    default:
        break;
    }
    told.append(t);
}

QList<Told> toldAbout(QObject *object, QAccessible::Event type)
{
    QList<Told> out;
    for (const Told &t : std::as_const(told)) {
        if (t.object == object && t.type == type)
            out.append(t);
    }
    return out;
}

QAccessibleInterface *displayInterface() { return QAccessible::queryAccessibleInterface(Form1->memo1()); }

// Roles of the controls a user reads or types into.
bool isReadControl(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::EditableText:
    case QAccessible::StaticText:
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::SpinBox:
    case QAccessible::Slider:
    case QAccessible::List:
    case QAccessible::Tree:
    case QAccessible::Table:
    case QAccessible::ListItem:
    case QAccessible::TreeItem:
    case QAccessible::MenuItem:
    case QAccessible::ButtonMenu:
    case QAccessible::ColumnHeader:
    case QAccessible::ProgressBar:
        return true;
    default:
        return false;
    }
}

QString describe(QAccessibleInterface *iface)
{
    QObject *o = iface->object();
    const QString name = o ? o->objectName() : QString();
    return QStringLiteral("%1 [%2, role %3]")
            .arg(name.isEmpty() && o ? QString::fromLatin1(o->metaObject()->className()) : name)
            .arg(iface->text(QAccessible::Name))
            .arg(int(iface->role()));
}

void walk(QAccessibleInterface *iface, QStringList &unnamed, int &seen, int depth = 0)
{
    if (!iface || !iface->isValid() || depth > 40 || iface->state().invisible)
        return;
    if (isReadControl(iface->role())) {
        ++seen;
        const bool named = !iface->text(QAccessible::Name).trimmed().isEmpty();
        const QAccessibleTextInterface *text = iface->textInterface();
        const bool hasText = text && text->characterCount() > 0;
        // A label that shows nothing is nothing to read.
        const auto *label = qobject_cast<QLabel *>(iface->object());
        const bool emptyLabel = label && label->text().isEmpty() && label->pixmap().isNull();
        if (!named && !hasText && !emptyLabel)
            unnamed.append(describe(iface));
    }
    for (int i = 0; i < iface->childCount(); ++i)
        walk(iface->child(i), unnamed, seen, depth + 1);
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init()
    {
        freshStart();
        told.clear();
    }
    void cleanupTestCase()
    {
        QAccessible::installUpdateHandler(nullptr);
        tearDownForms();
    }

    void displayIsAnEditableTextBox();
    void textCaretAndSelection();
    void boundaries_data();
    void boundaries();
    void boundariesEverywhere();
    void boundariesFarIntoALongLine();
    void geometryOfCharacters();
    void editingOnlyWhileIdle();
    void outputTellsWhatChanged();
    void everyShownControlIsNamed_data();
    void everyShownControlIsNamed();
    void valueLabelsShowTheirValue();
};

void TestAccessibility::initTestCase()
{
    // Qt's bridge joins the session's accessibility bus a moment after the start.
    QVERIFY2(waitUntil([] { return QAccessible::isActive(); }, 10000),
             "accessibility did not become active: no AT-SPI bus in this session?");
    QAccessible::installUpdateHandler(record);
}

void TestAccessibility::displayIsAnEditableTextBox()
{
    QAccessibleInterface *iface = displayInterface();
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::EditableText);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("資料顯示區"));
    QVERIFY(iface->textInterface());
    QVERIFY(iface->editableTextInterface());
    QAccessible::State s = iface->state();
    QVERIFY(s.multiLine);
    QVERIFY(s.selectableText);
    QVERIFY(s.editable);
    QVERIFY(!s.readOnly);
    QVERIFY(s.focusable);

    // During a mode the display is read-only, and says so when it changes.
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    ModeFrame frame(*Form1, Mode::Receive);
    QVERIFY(frame.begin());
    s = iface->state();
    QVERIFY(s.readOnly);
    QVERIFY(!s.editable);
    QCOMPARE(toldAbout(Form1->memo1(), QAccessible::StateChanged).size(), 1);
    frame.end();
    QVERIFY(iface->state().editable);
    QCOMPARE(toldAbout(Form1->memo1(), QAccessible::StateChanged).size(), 2);
}

void TestAccessibility::textCaretAndSelection()
{
    TrafficView *memo = Form1->memo1();
    memo->setPlainText(QStringLiteral("ACK<CR>\n溫度 23.5<LF>\n\nend"));
    QAccessibleTextInterface *text = displayInterface()->textInterface();
    const QString whole = memo->toPlainText();
    QCOMPARE(text->characterCount(), int(whole.size()));
    QCOMPARE(text->text(0, text->characterCount()), whole);
    QCOMPARE(text->text(0, -1), whole);
    for (int a = 0; a <= whole.size(); a += 3) {
        for (int b = a; b <= whole.size(); b += 5)
            QCOMPARE(text->text(a, b), whole.mid(a, b - a));
    }

    text->setCursorPosition(9);
    QCOMPARE(memo->caret(), (TextPosition {1, 1}));
    QCOMPARE(text->cursorPosition(), 9);
    QCOMPARE(text->selectionCount(), 0);
    text->setSelection(0, 8, 13);
    QCOMPARE(text->selectionCount(), 1);
    int start = -1;
    int end = -1;
    text->selection(0, &start, &end);
    QCOMPARE(start, 8);
    QCOMPARE(end, 13);
    QCOMPARE(memo->selectedText(), whole.mid(8, 5));
    // A selection made backwards is the same range.
    text->setSelection(0, 13, 8);
    text->selection(0, &start, &end);
    QCOMPARE(start, 8);
    QCOMPARE(end, 13);
    text->removeSelection(0);
    QCOMPARE(text->selectionCount(), 0);
    // Offsets past the end are the end.
    text->setCursorPosition(100000);
    QCOMPARE(text->cursorPosition(), int(whole.size()));
}

void TestAccessibility::boundaries_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("side"); // -1 before, 0 at, 1 after
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    using QA = QAccessible;
    // "Hello world\n\n中文 ok." : H=0 ' '=5 w=6 '\n'=11,12 中=13 ' '=15 '.'=18, length 19
    const struct
    {
        const char *name;
        QA::TextBoundaryType type;
        int side;
        int offset;
        const char *expected;
        int start;
        int end;
    } rows[] = {
            {"char at start", QA::CharBoundary, 0, 0, "H", 0, 1},
            {"char before start", QA::CharBoundary, -1, 0, "", -1, -1},
            {"char after start", QA::CharBoundary, 1, 0, "e", 1, 2},
            {"char at line break", QA::CharBoundary, 0, 11, "\n", 11, 12},
            {"char at end", QA::CharBoundary, 0, 19, "", -1, -1},
            {"char before end", QA::CharBoundary, -1, 19, ".", 18, 19},
            {"char before end, -1", QA::CharBoundary, -1, -1, ".", 18, 19},
            {"word inside", QA::WordBoundary, 0, 2, "Hello", 0, 5},
            {"word on a blank", QA::WordBoundary, 0, 5, " ", 5, 6},
            {"word after", QA::WordBoundary, 1, 2, " ", 5, 6},
            {"word before", QA::WordBoundary, -1, 6, " ", 5, 6},
            {"word before first", QA::WordBoundary, -1, 3, "", -1, -1},
            {"run of line breaks", QA::WordBoundary, 0, 12, "\n\n", 11, 13},
            {"word at end", QA::WordBoundary, 0, 19, ".", 18, 19},
            {"word after last", QA::WordBoundary, 1, 18, "", -1, -1},
            {"line at start", QA::LineBoundary, 0, 0, "Hello world\n", 0, 12},
            {"line at its break", QA::LineBoundary, 0, 11, "Hello world\n", 0, 12},
            {"empty line", QA::LineBoundary, 0, 12, "\n", 12, 13},
            {"line before", QA::LineBoundary, -1, 12, "Hello world\n", 0, 12},
            {"line before first", QA::LineBoundary, -1, 4, "", -1, -1},
            {"line after", QA::LineBoundary, 1, 12, "中文 ok.", 13, 19},
            {"line after last", QA::LineBoundary, 1, 14, "", -1, -1},
            {"line at end", QA::LineBoundary, 0, 19, "中文 ok.", 13, 19},
            {"paragraph is a line", QA::ParagraphBoundary, 0, 3, "Hello world\n", 0, 12},
            {"whole text", QA::NoBoundary, 0, 7, "Hello world\n\n中文 ok.", 0, 19},
            {"nothing before the whole", QA::NoBoundary, -1, 7, "", -1, -1},
            {"offset past the end", QA::WordBoundary, 0, 20, "", -1, -1},
    };
    for (const auto &r : rows)
        QTest::newRow(r.name) << int(r.type) << r.side << r.offset
                              << QString::fromUtf8(r.expected) << r.start << r.end;
}

void TestAccessibility::boundaries()
{
    QFETCH(int, type);
    QFETCH(int, side);
    QFETCH(int, offset);
    Form1->memo1()->setPlainText(QStringLiteral("Hello world\n\n中文 ok."));
    QAccessibleTextInterface *text = displayInterface()->textInterface();
    const auto t = QAccessible::TextBoundaryType(type);
    int start = -2;
    int end = -2;
    const QString got = side < 0 ? text->textBeforeOffset(offset, t, &start, &end)
            : side > 0           ? text->textAfterOffset(offset, t, &start, &end)
                                 : text->textAtOffset(offset, t, &start, &end);
    QTEST(got, "expected");
    QTEST(start, "start");
    QTEST(end, "end");
}

void TestAccessibility::boundariesEverywhere()
{
    // Every offset of every kind answers, with offsets that name the text it returns: a screen
    // reader walks a text this way, and one offset that does not answer hangs it.
    const QString content = QStringLiteral("$GPGGA,092750.000,N<CR>\n<LF>T=23.5<HT>RH=61<ACK><CR>\n"
                                           "41 42 0D \n\n\n0A 溫度。Ready. Go!\n \n");
    Form1->memo1()->setPlainText(content);
    QAccessibleTextInterface *text = displayInterface()->textInterface();
    using QA = QAccessible;
    for (QA::TextBoundaryType type : {QA::CharBoundary, QA::WordBoundary, QA::SentenceBoundary,
                                      QA::LineBoundary, QA::ParagraphBoundary}) {
        int previousEnd = 0;
        for (int offset = -1; offset <= content.size(); ++offset) {
            const QByteArray where = QByteArray::number(int(type)) + " at "
                    + QByteArray::number(offset);
            const int o = offset < 0 ? int(content.size()) : offset;
            for (int side : {-1, 0, 1}) {
                int start = -1;
                int end = -1;
                const QString got = side < 0 ? text->textBeforeOffset(offset, type, &start, &end)
                        : side > 0           ? text->textAfterOffset(offset, type, &start, &end)
                                             : text->textAtOffset(offset, type, &start, &end);
                if (start < 0) {
                    QVERIFY2(got.isEmpty() && end < 0, where);
                    continue;
                }
                // Only the empty line after a final line break is an empty item.
                QVERIFY2(start < end || (start == content.size() && got.isEmpty()), where);
                QVERIFY2(got == content.mid(start, end - start), where);
                if (side == 0 && o < content.size())
                    QVERIFY2(start <= o && o < end, where);
                if (side < 0 && o < content.size())
                    QVERIFY2(end <= o, where);
                if (side > 0)
                    QVERIFY2(start > o, where);
            }
            // Items at successive offsets never step back.
            int start = -1;
            int end = -1;
            text->textAtOffset(o, type, &start, &end);
            if (offset >= 0 && start >= 0) {
                QVERIFY2(end >= previousEnd, where);
                previousEnd = end;
            }
        }
    }
}

void TestAccessibility::boundariesFarIntoALongLine()
{
    // A line of NoCR traffic far longer than the window words are looked for in: the word at an
    // offset deep inside is found whole, with the offsets of the whole text.
    QString line;
    QRandomGenerator rng(7);
    while (line.size() < 300000)
        line += QStringLiteral("W%1 ").arg(rng.bounded(100000, 1000000));
    const QString content = QStringLiteral("first\n") + line + QStringLiteral("\nlast");
    Form1->memo1()->setPlainText(content);
    QAccessibleTextInterface *display = displayInterface()->textInterface();
    for (int offset : {7, 150001, 150002, 150003, 299990, int(content.size()) - 8}) {
        int start = -1;
        int end = -1;
        const QString word = display->textAtOffset(offset, QAccessible::WordBoundary, &start, &end);
        // Every word is a W and six digits; the blank between two words is an item of its own.
        if (content[offset] == u' ') {
            QCOMPARE(word, QStringLiteral(" "));
            QCOMPARE(start, offset);
        } else {
            const int wordStart = int(content.lastIndexOf(u'W', offset));
            QCOMPARE(start, wordStart);
            QCOMPARE(end, wordStart + 7);
            QCOMPARE(word, content.mid(wordStart, 7));
        }
        start = end = -1;
        QCOMPARE(display->textAtOffset(offset, QAccessible::LineBoundary, &start, &end),
                 line + u'\n');
        QCOMPARE(start, 6);
    }
}

void TestAccessibility::geometryOfCharacters()
{
    TrafficView *memo = Form1->memo1();
    memo->setPlainText(QStringLiteral("abc\ndef"));
    QAccessibleTextInterface *text = displayInterface()->textInterface();
    const QRect a = text->characterRect(0);
    const QRect b = text->characterRect(1);
    const QRect d = text->characterRect(4);
    QVERIFY(a.width() > 0 && a.height() > 0);
    QCOMPARE(b.left(), a.right() + 1);
    QCOMPARE(d.left(), a.left());
    QVERIFY(d.top() > a.top());
    QCOMPARE(text->offsetAtPoint(b.center()), 1);
    QCOMPARE(text->offsetAtPoint(d.center()), 4);
    QCOMPARE(text->offsetAtPoint(QPoint(-5000, -5000)), -1);
}

void TestAccessibility::editingOnlyWhileIdle()
{
    TrafficView *memo = Form1->memo1();
    memo->setPlainText(QStringLiteral("hello world"));
    QAccessibleEditableTextInterface *edit = displayInterface()->editableTextInterface();
    edit->replaceText(0, 5, QStringLiteral("HELLO"));
    edit->insertText(11, QStringLiteral("\r\n!"));
    edit->deleteText(5, 6);
    QCOMPARE(memo->toPlainText(), QStringLiteral("HELLOworld\n!"));

    memo->setReadOnly(true);
    edit->replaceText(0, 5, QStringLiteral("xxxxx"));
    edit->insertText(0, QStringLiteral("x"));
    edit->deleteText(0, 3);
    QCOMPARE(memo->toPlainText(), QStringLiteral("HELLOworld\n!"));
    memo->setReadOnly(false);
}

void TestAccessibility::outputTellsWhatChanged()
{
    TrafficView *memo = Form1->memo1();
    memo->insertAtCaret(u"AB<CR>\n");
    memo->insertAtCaret(u"<LF>C");
    QList<Told> inserted = toldAbout(memo, QAccessible::TextInserted);
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(inserted[0].position, 0);
    QCOMPARE(inserted[0].inserted, QStringLiteral("AB<CR>\n"));
    QCOMPARE(inserted[1].position, 7);
    QCOMPARE(inserted[1].inserted, QStringLiteral("<LF>C"));
    QCOMPARE(toldAbout(memo, QAccessible::TextCaretMoved).last().cursor, 12);

    // Output goes after a selection: the insertion is reported where it lands.
    memo->setSelection({0, 0}, {0, 2});
    memo->insertAtCaret(u"!");
    inserted = toldAbout(memo, QAccessible::TextInserted);
    QCOMPARE(inserted.last().position, 2);
    QCOMPARE(toldAbout(memo, QAccessible::TextCaretMoved).last().cursor, 3);

    // Clear says what was removed, from the start.
    const QString before = memo->toPlainText();
    told.clear();
    TForm1Controls(Form1).ClearDataButton->click();
    const QList<Told> removed = toldAbout(memo, QAccessible::TextRemoved);
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed[0].position, 0);
    QCOMPARE(removed[0].removed, before);
    QCOMPARE(toldAbout(memo, QAccessible::TextCaretMoved).last().cursor, 0);
    QCOMPARE(displayInterface()->textInterface()->characterCount(), 0);

    // Typing while idle is an edit of the user's, reported the same way.
    told.clear();
    memo->setFocus();
    QTest::keyClicks(memo, QStringLiteral("ok"));
    QTest::keyClick(memo, Qt::Key_Backspace);
    QCOMPARE(toldAbout(memo, QAccessible::TextInserted).size(), 2);
    const QList<Told> deleted = toldAbout(memo, QAccessible::TextRemoved);
    QCOMPARE(deleted.size(), 1);
    QCOMPARE(deleted[0].position, 1);
    QCOMPARE(deleted[0].removed, QStringLiteral("k"));

    // A pass of the reading loop is one insertion, however many reads it carries.
    memo->clear();
    told.clear();
    ReceivedDisplay shown(*Form1);
    Form1->traffic().subscribe(&shown);
    for (int i = 0; i < 40; ++i)
        Form1->traffic().publish({TrafficKind::Received, i, "ab"});
    Form1->traffic().passEnd();
    Form1->traffic().unsubscribe(&shown);
    inserted = toldAbout(memo, QAccessible::TextInserted);
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(inserted[0].inserted, QString(QStringLiteral("ab").repeated(40)));
}

void TestAccessibility::everyShownControlIsNamed_data()
{
    QTest::addColumn<int>("form");
    for (int i = 1; i <= 6; ++i)
        QTest::newRow(qPrintable(QStringLiteral("Form%1").arg(i))) << i;
    QTest::newRow("Form1 with the auto-replies") << 7;
    QTest::newRow("the script window") << 8;
}

void TestAccessibility::everyShownControlIsNamed()
{
    QFETCH(int, form);
    QWidget *shown = nullptr;
    switch (form) {
    case 1:
    case 7: {
        // Terminal mode shows its two panels too, and the line panel may be shown.
        TForm1Controls(Form1).Panel8->setVisible(true);
        TForm1Controls(Form1).EchoDataPanel->setVisible(true);
        TForm1Controls(Form1).LinePanelMenuBar->trigger();
        // The command panel with a row of each tab.
        TForm1Controls(Form1).CommandPanelMenuBar->trigger();
        Form1->commandPanel()->setCommands({CommandList::Command()});
        AutoReply::Rule rule;
        rule.pattern = QStringLiteral("AT");
        Form1->commandPanel()->setRules({rule});
        Form1->commandPanel()->findChild<QTabWidget *>()->setCurrentIndex(form == 7 ? 1 : 0);
        shown = Form1;
        break;
    }
    case 2:
        shown = Form2;
        break;
    case 3:
        Form3->showFile(QStringLiteral("/home/tech/data.bin"), 1024);
        shown = Form3;
        break;
    case 4:
        shown = Form4;
        break;
    case 5:
        shown = Form5;
        break;
    case 6:
        shown = Form6;
        break;
    case 8:
        shown = Form1->scriptWindow();
        break;
    }
    shown->show();
    QVERIFY(QTest::qWaitForWindowExposed(shown));
    QStringList unnamed;
    int seen = 0;
    walk(QAccessible::queryAccessibleInterface(shown), unnamed, seen);
    shown->hide();
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral("; "))));
    QVERIFY2(seen >= 3, "the walk found hardly any controls");
}

void TestAccessibility::valueLabelsShowTheirValue()
{
    Form3->showFile(QStringLiteral("/home/tech/韌體/update.bin"), 48213);
    const TForm3Controls &ui = TForm3Controls(Form3);
    QAccessibleInterface *size = QAccessible::queryAccessibleInterface(ui.FileSizeLabel);
    QAccessibleInterface *path = QAccessible::queryAccessibleInterface(ui.FilePathLabel);
    QCOMPARE(size->text(QAccessible::Name), QStringLiteral("48213 byte"));
    QCOMPARE(path->text(QAccessible::Name), QStringLiteral("/home/tech/韌體/update.bin"));
    // The caption stays with its own label, and is told as the value's description.
    QCOMPARE(QAccessible::queryAccessibleInterface(ui.Label9)->text(QAccessible::Name),
             QStringLiteral("檔案大小 :"));
    QCOMPARE(size->text(QAccessible::Description), QStringLiteral("檔案大小"));
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
