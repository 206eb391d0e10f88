// SPDX-License-Identifier: MIT
// The program settings dialog through the main window's menu, and the help menu's texts.
#include "SettingsTestSupport.h"

#include "TForm5Controls.h"
#include "main/TrafficView.h"
#include "send/Telvixmain5.h"
#include "session/ReceivedDisplay.h"
#include "traffic/ControlCodes.h"
#include "traffic/DisplayFormatter.h"

#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QSizeGrip>
#include <QStatusBar>

using namespace SettingsTest;

Q_DECLARE_METATYPE(SettingsTest::Leave)

namespace {

const QString Nl {QChar(DisplayFormatter::LineBreak)};
const QColor Gray(0x80, 0x80, 0x80);

QColor windowColour() { return QApplication::palette().color(QPalette::Active, QPalette::Base); }

QString memoText() { return Form1->memo1()->toPlainText(); }

// Everything Cancel must put back, as one comparable list.
QVariantList dialogState()
{
    const TForm6Controls &ui = TForm6Controls(Form6);
    return {ui.NoCR_Radio->isChecked(),
            ui.LF_Radio->isChecked(),
            ui.CR_Radio->isChecked(),
            ui.UserDefineCRLF_Radio->isChecked(),
            ui.Edit1->text(),
            ui.Edit1->isEnabled(),
            ui.Edit1->palette().color(QPalette::Base),
            ui.Label2->isEnabled(),
            ui.Button1->isEnabled(),
            ui.HEXOnly_Radio->isChecked(),
            ui.HexAnsi_Radio->isChecked(),
            ui.AnsiHex_Radio->isChecked(),
            ui.FormSizable_CheckBox->isChecked(),
            ui.ShowQuicklyPanel_CheckBox->isChecked(),
            ui.ModbusRtu_Radio->isChecked(),
            ui.ModbusAscii_Radio->isChecked(),
            panelColour(ui.ShowArea_ColorPanel)};
}

// What the main window shows of the settings.
QVariantList windowState()
{
    const TForm1Controls &ui = TForm1Controls(Form1);
    return {ui.Panel1->isVisibleTo(Form1),
            Form1->size(),
            Form1->minimumSize(),
            Form1->maximumSize(),
            ui.StatusBar1->isSizeGripEnabled(),
            Form1->memo1Colour()};
}

void answerPicker(int radioButton)
{
    answerNextModal([radioButton](QWidget *w) {
        auto *picker = qobject_cast<TForm5 *>(w);
        QVERIFY(picker);
        picker->radioButton(radioButton)->click();
        TForm5Controls(picker).BitBtn1->click();
    });
}

QString glyph(uint8_t code) { return QString(*ControlCodes::glyphFor(code)); }

// `bytes` received in one pass of a receiving mode: through the window's traffic stream to a
// display that lives as long as the mode.
void receive(const QByteArray &bytes)
{
    ReceivedDisplay display(*Form1);
    Form1->traffic().subscribe(&display);
    Form1->traffic().publish({TrafficKind::Received, monotonicMicroseconds(), bytes});
    Form1->traffic().passEnd();
    Form1->traffic().unsubscribe(&display);
    display.finish();
}

QString shown(const QByteArray &bytes)
{
    Form1->memo1()->clear();
    receive(bytes);
    return memoText();
}

} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void layoutAndDefaults();
    void resultsOfLeaving_data();
    void resultsOfLeaving();
    void cancelRestoresSnapshot_data();
    void cancelRestoresSnapshot();
    void okAppliesWindowOptions_data();
    void okAppliesWindowOptions();
    void toolBarHiddenMovesStatusBarUp();
    void enteringRuleButtons();
    void pickerIntoEdit1_data();
    void pickerIntoEdit1();
    void typedBreakCharacter_data();
    void typedBreakCharacter();
    void hexStylesThroughWindow_data();
    void hexStylesThroughWindow();
    void colourPreviewAndOk();
    void aboutReplacesTraffic();
    void versionTwice();
};

void TestSettingsDialog::layoutAndDefaults()
{
    const TForm6Controls &ui = TForm6Controls(Form6);
    QCOMPARE(Form6->windowTitle(), QStringLiteral("TELVIX 功能設定"));
    // The documented 475 x 322, with the groups of time and framing, of memory and of the
    // protocol added below; the protocol starts at none.
    QCOMPARE(Form6->frameGeometry().size(), QSize(475, 543));
    QVERIFY(ui.ProtocolNone_Radio->isChecked());
    QCOMPARE(Form6->minimumSize(), Form6->maximumSize());
    QCOMPARE(ui.GroupBox1->size(), QSize(309, 173));
    // 309 x 95, one row taller for the fourth style, HEX + text.
    QCOMPARE(ui.GroupBox2->size(), QSize(309, 119));
    QCOMPARE(ui.ShowArea_ColorPanel->size(), QSize(127, 55));
    QCOMPARE(ui.Label1->text(), QStringLiteral("sample data"));
    QVERIFY(!ui.tmpPanel->isVisibleTo(Form6));
    QCOMPARE(Form6->ColorDialog->parent(), Form6);
    QCOMPARE(ui.ShowQuicklyPanel_CheckBox->text(), QStringLiteral("顯示[ 快速工具列 ] "));
    QCOMPARE(ui.HexAnsi_Radio->text(),
             QStringLiteral("先顯示HEX值後,再括弧顯示ANSI字元,例如 : 40(A)"));
    QCOMPARE(ui.Edit1->maxLength(), 1);
    QVERIFY(ui.BitBtn1->isDefault());

    // The defaults agree with the main window at start.
    QVERIFY(ui.CR_Radio->isChecked());
    QVERIFY(!ui.NoCR_Radio->isChecked() && !ui.LF_Radio->isChecked());
    QVERIFY(!ui.UserDefineCRLF_Radio->isChecked());
    QVERIFY(!ui.Edit1->isEnabled() && ui.Edit1->text().isEmpty());
    QCOMPARE(ui.Edit1->palette().color(QPalette::Base), Gray);
    QVERIFY(!ui.Button1->isEnabled() && !ui.Label2->isEnabled());
    QVERIFY(ui.HEXOnly_Radio->isChecked());
    QVERIFY(!ui.FormSizable_CheckBox->isChecked());
    QVERIFY(ui.ShowQuicklyPanel_CheckBox->isChecked());
    QCOMPARE(panelColour(ui.ShowArea_ColorPanel), windowColour());
    QCOMPARE(Form1->memo1Colour(), windowColour());
    QVERIFY(TForm1Controls(Form1).Panel1->isVisible());

    const DisplaySettings s = Form1->formatter().settings();
    QCOMPARE(s.lineBreakRule, LineBreakRule::CR);
    QVERIFY(!s.userBreakByte);
    QCOMPARE(s.hexStyle, HexStyle::HEXOnly);
}

void TestSettingsDialog::resultsOfLeaving_data()
{
    QTest::addColumn<Leave>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("OK") << Leave::Ok << 1;
    QTest::newRow("Cancel") << Leave::Cancel << 2;
    QTest::newRow("Esc") << Leave::Escape << 2;
    QTest::newRow("close box") << Leave::CloseBox << 2;
}

void TestSettingsDialog::resultsOfLeaving()
{
    QFETCH(Leave, how);
    QFETCH(int, result);
    QCOMPARE(runSettings([](const TForm6Controls &) {}, how), result);
    QCOMPARE(Form1->focusWidget(), TForm1Controls(Form1).Memo1);
}

void TestSettingsDialog::cancelRestoresSnapshot_data()
{
    QTest::addColumn<std::function<void(const TForm6Controls &)>>("change");
    QTest::addColumn<Leave>("how");
    using Change = std::function<void(const TForm6Controls &)>;
    const Change everything = [](const TForm6Controls &ui) {
        clickOn(ui.UserDefineCRLF_Radio);
        QTest::keyClicks(ui.Edit1, QStringLiteral(";"));
        clickOn(ui.AnsiHex_Radio);
        clickOn(ui.FormSizable_CheckBox);
        clickOn(ui.ShowQuicklyPanel_CheckBox);
        clickOn(ui.ModbusRtu_Radio);
        pickColour(ui, Qt::yellow);
    };
    QTest::newRow("LF over the user rule")
            << Change([](const TForm6Controls &ui) { clickOn(ui.LF_Radio); }) << Leave::Cancel;
    QTest::newRow("user rule and Edit1") << Change([](const TForm6Controls &ui) {
        clickOn(ui.UserDefineCRLF_Radio);
        QTest::keyClicks(ui.Edit1, QStringLiteral("x"));
    }) << Leave::Cancel;
    QTest::newRow("HEX style") << Change([](const TForm6Controls &ui) {
        clickOn(ui.HEXOnly_Radio);
    }) << Leave::Cancel;
    QTest::newRow("colour") << Change([](const TForm6Controls &ui) { pickColour(ui, Qt::cyan); })
                            << Leave::Cancel;
    QTest::newRow("check boxes") << Change([](const TForm6Controls &ui) {
        clickOn(ui.FormSizable_CheckBox);
        clickOn(ui.ShowQuicklyPanel_CheckBox);
    }) << Leave::Cancel;
    QTest::newRow("protocol") << Change([](const TForm6Controls &ui) {
        clickOn(ui.ModbusAscii_Radio);
    }) << Leave::Cancel;
    QTest::newRow("everything, Esc") << everything << Leave::Escape;
    QTest::newRow("everything, close box") << everything << Leave::CloseBox;
}

void TestSettingsDialog::cancelRestoresSnapshot()
{
    QFETCH(std::function<void(const TForm6Controls &)>, change);
    QFETCH(Leave, how);
    // Start from a state of the user's own, not the defaults: user rule with ';', HexAnsi.
    runSettings(
            [](const TForm6Controls &ui) {
                clickOn(ui.UserDefineCRLF_Radio);
                QTest::keyClicks(ui.Edit1, QStringLiteral("!"));
                clickOn(ui.HexAnsi_Radio);
            },
            Leave::Ok);
    const QVariantList dialogBefore = dialogState();
    const QVariantList windowBefore = windowState();
    const DisplaySettings settingsBefore = Form1->formatter().settings();
    QCOMPARE(settingsBefore.lineBreakRule, LineBreakRule::UserDefineCRLF);

    QVariantList dialogChanged;
    runSettings(
            [&](const TForm6Controls &ui) {
                change(ui);
                dialogChanged = dialogState();
            },
            how);
    QVERIFY(dialogChanged != dialogBefore); // the change did reach the controls
    QCOMPARE(dialogState(), dialogBefore);
    QCOMPARE(windowState(), windowBefore);
    const DisplaySettings after = Form1->formatter().settings();
    QCOMPARE(after.lineBreakRule, settingsBefore.lineBreakRule);
    QCOMPARE(after.userBreakByte, settingsBefore.userBreakByte);
    QCOMPARE(after.hexStyle, settingsBefore.hexStyle);

    // Reopened, the dialog shows the former state.
    QVariantList reopened;
    runSettings([&](const TForm6Controls &) { reopened = dialogState(); }, Leave::Cancel);
    QCOMPARE(reopened, dialogBefore);
}

void TestSettingsDialog::okAppliesWindowOptions_data()
{
    QTest::addColumn<QList<bool>>("sizableAtEachOk");
    QTest::newRow("unchanged") << QList<bool> {false};
    QTest::newRow("sizable") << QList<bool> {true};
    QTest::newRow("sizable, then not") << QList<bool> {true, false};
}

void TestSettingsDialog::okAppliesWindowOptions()
{
    QFETCH(QList<bool>, sizableAtEachOk);
    const TForm1Controls &main = TForm1Controls(Form1);
    for (bool sizable : sizableAtEachOk) {
        const QSize sizeBefore = Form1->size();
        runSettings(
                [sizable](const TForm6Controls &ui) {
                    ui.FormSizable_CheckBox->setChecked(sizable);
                },
                Leave::Ok);
        if (sizable) {
            QCOMPARE(Form1->size(), sizeBefore);
            QVERIFY(Form1->minimumSize() != Form1->maximumSize());
            QVERIFY(main.StatusBar1->isSizeGripEnabled());
            QVERIFY(main.StatusBar1->findChild<QSizeGrip *>());
            Form1->resize(700, 500);
            QTRY_COMPARE(Form1->size(), QSize(700, 500));
        } else {
            QCOMPARE(Form1->frameGeometry().size(), QSize(600, 428));
            QCOMPARE(Form1->minimumSize(), Form1->maximumSize());
            QVERIFY(!main.StatusBar1->isSizeGripEnabled());
        }
    }
}

void TestSettingsDialog::toolBarHiddenMovesStatusBarUp()
{
    const TForm1Controls &main = TForm1Controls(Form1);
    QVERIFY(main.StatusBar1->y() > 0);
    runSettings([](const TForm6Controls &ui) { clickOn(ui.ShowQuicklyPanel_CheckBox); }, Leave::Ok);
    QVERIFY(!main.Panel1->isVisible());
    QTRY_COMPARE(main.StatusBar1->y(), 0);
    QCOMPARE(Form1->frameGeometry().size(), QSize(600, 428));
    runSettings([](const TForm6Controls &ui) { clickOn(ui.ShowQuicklyPanel_CheckBox); }, Leave::Ok);
    QVERIFY(main.Panel1->isVisible());
    QTRY_COMPARE(main.StatusBar1->y(), main.Panel1->height());
}

void TestSettingsDialog::enteringRuleButtons()
{
    runSettings(
            [](const TForm6Controls &ui) {
                QTest::keyClicks(ui.Edit1, QStringLiteral("z")); // disabled: takes nothing
                QCOMPARE(ui.Edit1->text(), QString());
                clickOn(ui.UserDefineCRLF_Radio);
                QVERIFY(ui.UserDefineCRLF_Radio->isChecked());
                QVERIFY(ui.Edit1->isEnabled() && ui.Button1->isEnabled() && ui.Label2->isEnabled());
                QCOMPARE(ui.Edit1->palette().color(QPalette::Base), windowColour());
                QVERIFY(ui.Edit1->hasFocus());
                QTest::keyClicks(ui.Edit1, QStringLiteral("a"));
                // Entering again selects the character, so the next key replaces it.
                clickOn(ui.CR_Radio);
                QVERIFY(!ui.Edit1->isEnabled() && !ui.Button1->isEnabled());
                QVERIFY(!ui.Label2->isEnabled());
                QCOMPARE(ui.Edit1->palette().color(QPalette::Base), Gray);
                clickOn(ui.UserDefineCRLF_Radio);
                QCOMPARE(ui.Edit1->selectedText(), QStringLiteral("a"));
                QTest::keyClicks(ui.Edit1, QStringLiteral("b"));
                QCOMPARE(ui.Edit1->text(), QStringLiteral("b"));
                // By keyboard: back from Edit1 to its rule, which lets the focus stay, then up
                // to LF with the arrow keys.
                QTest::keyClick(ui.Edit1, Qt::Key_Backtab);
                QVERIFY(ui.UserDefineCRLF_Radio->hasFocus());
                QVERIFY(ui.Edit1->isEnabled());
                QTest::keyClick(ui.UserDefineCRLF_Radio, Qt::Key_Up);
                QVERIFY(ui.CR_Radio->isChecked());
                QVERIFY(!ui.Edit1->isEnabled());
                QTest::keyClick(ui.CR_Radio, Qt::Key_Up);
                QVERIFY(ui.LF_Radio->hasFocus());
                QVERIFY(ui.LF_Radio->isChecked());
                QVERIFY(!ui.Edit1->isEnabled());
            },
            Leave::Ok);
    QCOMPARE(Form1->formatter().settings().lineBreakRule, LineBreakRule::LF);
    QCOMPARE(Form1->formatter().settings().userBreakByte, std::optional<uint8_t>('b'));
}

void TestSettingsDialog::pickerIntoEdit1_data()
{
    QTest::addColumn<int>("radioButton");
    QTest::addColumn<QString>("edit1");
    QTest::addColumn<QString>("shown"); // "A\rB;" under the user rule
    QTest::newRow("00h - NULL") << 1 << QStringLiteral(";") << "A<CR>B;" + Nl;
    QTest::newRow("0Dh - CR") << 14 << glyph(0x0D) << "A<CR>" + Nl + "B;";
    QTest::newRow("1Fh - US") << 32 << glyph(0x1F) << QStringLiteral("A<CR>B;");
}

void TestSettingsDialog::pickerIntoEdit1()
{
    QFETCH(int, radioButton);
    QFETCH(QString, edit1);
    QFETCH(QString, shown);
    runSettings(
            [radioButton](const TForm6Controls &ui) {
                clickOn(ui.UserDefineCRLF_Radio);
                QTest::keyClicks(ui.Edit1, QStringLiteral(";"));
                // Cancelling the picker leaves the box alone.
                answerNextModal([](QWidget *w) { static_cast<QDialog *>(w)->reject(); });
                ui.Button1->click();
                QCOMPARE(ui.Edit1->text(), QStringLiteral(";"));
                answerPicker(radioButton);
                ui.Button1->click();
                QCOMPARE(Form6->focusWidget(), ui.Edit1);
            },
            Leave::Ok);
    QCOMPARE(TForm6Controls(Form6).Edit1->text(), edit1);
    QCOMPARE(::shown("A\rB;"), shown);
}

void TestSettingsDialog::typedBreakCharacter_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    // An empty box under the user rule: no byte breaks a line.
    QTest::newRow("empty, ASCII") << QString() << false << QByteArray("a\r\n;", 4)
                                  << QStringLiteral("a<CR><LF>;");
    QTest::newRow("empty, HEX") << QString() << true << QByteArray("\x00\r", 2)
                                << QStringLiteral("00 0D ");
    QTest::newRow("semicolon") << QStringLiteral(";") << false << QByteArray("a;b")
                               << "a;" + Nl + "b";
    // A Chinese character breaks at its first byte, which only the HEX form tests.
    QTest::newRow("Big5 lead byte, HEX")
            << QStringLiteral("中") << true << QByteArray("\xA4\xA4") << "A4 " + Nl + "A4 " + Nl;
    QTest::newRow("Big5 lead byte, ASCII")
            << QStringLiteral("中") << false << QByteArray("\xA4\xA4") << QStringLiteral("中");
}

void TestSettingsDialog::typedBreakCharacter()
{
    QFETCH(QString, typed);
    QFETCH(bool, hex);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    runSettings(
            [typed](const TForm6Controls &ui) {
                clickOn(ui.UserDefineCRLF_Radio);
                ui.Edit1->insert(typed);
            },
            Leave::Ok);
    if (hex)
        TForm1Controls(Form1).HexModeMenuBar->trigger();
    QCOMPARE(::shown(bytes), shown);
}

void TestSettingsDialog::hexStylesThroughWindow_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    const QByteArray bytes("@\r\xC4", 3);
    QTest::newRow("HEX only") << "HEXOnly_Radio" << bytes << "40 0D " + Nl + "C4 ";
    QTest::newRow("HEX(ANSI)") << "HexAnsi_Radio" << bytes << "40(@) 0D(<CR>) " + Nl + "C4(.) ";
    QTest::newRow("ANSI(HEX)") << "AnsiHex_Radio" << bytes << "@(40) <CR>(0D) " + Nl + ".(C4) ";
}

void TestSettingsDialog::hexStylesThroughWindow()
{
    QFETCH(QString, style);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    runSettings(
            [style](const TForm6Controls &ui) {
                clickOn(ui.AnsiHex_Radio); // away from the default first
                clickOn(Form6->findChild<QRadioButton *>(style));
            },
            Leave::Ok);
    TForm1Controls(Form1).HexModeMenuBar->trigger();
    QCOMPARE(::shown(bytes), shown);
    // The ASCII form ignores the style.
    TForm1Controls(Form1).ASCIIModeMenuBar->trigger();
    QCOMPARE(::shown("@"), QStringLiteral("@"));
}

void TestSettingsDialog::colourPreviewAndOk()
{
    const QColor before = Form1->memo1Colour();
    QColor opened;
    runSettings(
            [&](const TForm6Controls &ui) {
                pickColour(ui, Qt::red);
                QCOMPARE(panelColour(ui.ShowArea_ColorPanel), QColor(Qt::red));
                QCOMPARE(Form1->memo1Colour(), before);
                // Dropped in the colour dialog: neither the preview nor the dialog keep it.
                pickColour(ui, QColor(), &opened);
                QCOMPARE(opened, QColor(Qt::red));
                QCOMPARE(panelColour(ui.ShowArea_ColorPanel), QColor(Qt::red));
            },
            Leave::Ok);
    QCOMPARE(Form1->memo1Colour(), QColor(Qt::red));

    // The colour dialog opens with what was last confirmed in it, not with the preview.
    Form1->setMemo1Colour(Qt::green);
    runSettings(
            [&](const TForm6Controls &ui) {
                QCOMPARE(panelColour(ui.ShowArea_ColorPanel), QColor(Qt::green));
                pickColour(ui, Qt::blue, &opened);
                QCOMPARE(opened, QColor(Qt::red));
            },
            Leave::Cancel);
    QCOMPARE(Form1->memo1Colour(), QColor(Qt::green));
    runSettings([&](const TForm6Controls &ui) { pickColour(ui, QColor(), &opened); },
                Leave::Cancel);
    QCOMPARE(opened, QColor(Qt::blue));
}

void TestSettingsDialog::aboutReplacesTraffic()
{
    TrafficView *memo = Form1->memo1();
    receive("x\ry");
    const bool hex = Form1->formatter().hexForm();
    TForm1Controls(Form1).AboutMenubar->trigger();
    const QStringList lines = memoText().split(Nl);
    QCOMPARE(lines.size(), 18);
    QCOMPARE(lines.last(), QString());
    QCOMPARE(lines[0], QStringLiteral(" "));
    QCOMPARE(lines[1], QStringLiteral("程式 : TELVIX"));
    QVERIFY(lines[2].startsWith(QStringLiteral("作者 : ")) && lines[2].size() > 5);
    QVERIFY(lines[3].startsWith(QStringLiteral("連絡 : ")) && lines[3].contains(u'@'));
    QCOMPARE(lines[4], QStringLiteral("TELVIX 是一個RS232資料傳送/接收測試程式"));
    QCOMPARE(lines[8], QString(50, u'='));
    QCOMPARE(lines[10], QStringLiteral("有更多軟體上的建議的話,請來信指教"));
    QCOMPARE(lines[11], QString(31, u'-'));
    for (int i = 12; i < 17; ++i)
        QVERIFY2(!lines[i].trimmed().isEmpty(), qPrintable(QString::number(i)));
    QCOMPARE(memo->caret(), (TextPosition {17, 0}));
    QCOMPARE(Form1->formatter().hexForm(), hex);
    // What is shown next continues on the empty line.
    receive("z");
    QVERIFY(memoText().endsWith(QString(31, u'-') + Nl + lines[12] + Nl + lines[13] + Nl + lines[14]
                                + Nl + lines[15] + Nl + lines[16] + Nl + "z"));
}

void TestSettingsDialog::versionTwice()
{
    receive("x");
    TForm1Controls(Form1).VersionMenubar->trigger();
    TForm1Controls(Form1).VersionMenubar->trigger();
    const QStringList lines = memoText().split(Nl);
    QCOMPARE(lines.size(), 7);
    QCOMPARE(lines[0], QStringLiteral(" "));
    QCOMPARE(lines[1], QStringLiteral("軟體 : TELVIX"));
    QCOMPARE(lines[2], QStringLiteral("版本 : 3.6"));
    QVERIFY(lines[3].startsWith(QStringLiteral("作者 : ")));
    QCOMPARE(lines[4], QStringLiteral("日期 : 2004,9/06"));
    QVERIFY(lines[5].startsWith(QStringLiteral("連繫 : ")) && lines[5].contains(u'@'));
    QCOMPARE(lines[6], QString());
    QCOMPARE(Form1->memo1()->caret(), (TextPosition {6, 0}));
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
