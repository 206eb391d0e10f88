// SPDX-License-Identifier: MIT
// The main window driven as a user would: start-up state, the small commands, the close query
// and the frame every mode runs in, on a real pseudo-terminal.
#include "GuiHelpers.h"
#include "Pty.h"

#include "session/ModeFrame.h"
#include "session/ModeState.h"
#include "session/ModeTable.h"
#include "main/Telvixmain1.h"
#include "serial/PortSettings.h"
#include "TForm1Controls.h"

#include "main/Translations.h"
#include "main/TrafficView.h"
#include "serial/SerialPort.h"

#include <QAccessible>
#include <QAction>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <QFontDialog>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <set>

using MessageBoxes::Kind;

namespace {

// A mode that does nothing but wait for Break inside the frame, the way every mode loop waits
// for events. `duringMode` runs once the window has been switched over.
bool runIdleMode(Mode mode, const std::function<void()> &duringMode)
{
    ModeFrame frame(*Form1, mode);
    if (!frame.begin())
        return false;
    QTimer::singleShot(0, [&] {
        duringMode();
        ModeState::BreakRequested = 1; // also when a check inside returned early
    });
    while (ModeState::BreakRequested == 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    frame.end();
    return true;
}

std::set<QString> allTableControls()
{
    std::set<QString> names;
    for (const ModeControlRow &row : ModeTable::rows()) {
        for (std::string_view n : row.controls) {
            if (!n.empty())
                names.insert(QString::fromUtf8(n.data(), qsizetype(n.size())));
        }
    }
    return names;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void startUpState();
    void toolButtons_data();
    void toolButtons();
    void menuItems_data();
    void menuItems();
    void displayModeCommands();
    void clearCommand();
    void fontCommand_data();
    void fontCommand();
    void messageBoxLooks();
    void qtDialogsSpeakChinese();
    void modeFrameSwitchesItsColumn_data();
    void modeFrameSwitchesItsColumn();
    void modeEndRestoresColourOfItsStart();
    void closeRefusedWhileModeRuns();
    void failedOpenChangesNothing_data();
    void failedOpenChangesNothing();
};

void TestMainWindow::startUpState()
{
    QCOMPARE(Form1->windowTitle(), QStringLiteral("TELVIX  V3.6"));
    QCOMPARE(Form1->centralWidget()->size(), QSize(593, 412));
    QCOMPARE(Form1->minimumSize(), Form1->maximumSize());
    QCOMPARE(Form1->statusPanel(0), QStringLiteral("COM1 = 9600 , N , 8 , 1"));
    QCOMPARE(Form1->statusPanel(1), QStringLiteral("ASCII 模式"));
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    const TForm1Controls &ui = TForm1Controls(Form1);
    QVERIFY(ui.ASCIIModeMenuBar->isChecked());
    QVERIFY(!ui.HexModeMenuBar->isChecked());
    QVERIFY(!ui.BreakMenuBar->isEnabled());
    QVERIFY(!ui.BreakButton->isEnabled());
    QVERIFY(ui.Memo1->toPlainText().isEmpty());
    QVERIFY(!ui.Memo1->isReadOnly());
    QVERIFY(!ui.Panel8->isVisible());
    QVERIFY(!ui.EchoDataPanel->isVisible());
    // Tool bar above the status bar above the display.
    QCOMPARE(ui.Panel1->height(), 65);
    QCOMPARE(ui.StatusBar1->height(), 23);
    QVERIFY(ui.Panel1->y() < ui.StatusBar1->y());
    QVERIFY(ui.StatusBar1->y() < ui.Panel6->y());
    QCOMPARE(ui.Panel6->geometry().bottom(), Form1->centralWidget()->height() - 1);
    // The status panels end inside the window.
    auto *lastPanel = ui.StatusBar1->findChild<QLabel *>(QStringLiteral("StatusPanel2"));
    QVERIFY(lastPanel);
    QVERIFY(lastPanel->geometry().right() < ui.StatusBar1->width() - 1);
    QCOMPARE(ui.StatusBar1->findChild<QLabel *>(QStringLiteral("StatusPanel0"))->width(), 200);
    QCOMPARE(ui.StatusBar1->findChild<QLabel *>(QStringLiteral("StatusPanel1"))->width(), 150);
    for (const QString &name : allTableControls())
        QVERIFY2(controlEnabled(name), qPrintable(name));
}

void TestMainWindow::toolButtons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("x");
    QTest::addColumn<QString>("hint");
    QTest::newRow("config") << "Rs232ConfigButton" << 8 << "設定 RS232 相關參數值";
    QTest::newRow("clear") << "ClearDataButton" << 72 << "清下面顯示記錄";
    QTest::newRow("mode") << "DataModeButton" << 136
                          << "切換 RS232 資料顯示模式 ( 16進制/ 文字模式 )";
    QTest::newRow("receive") << "ReceiveButton" << 200 << "接收 <== RS232  資料";
    QTest::newRow("file") << "Send_FileContentButton" << 264 << "傳送(檔案)資料 ==> RS232 埠";
    QTest::newRow("string") << "Send_UserStringButton" << 328 << "傳送(字串) 文字 ==> RS232 埠";
    QTest::newRow("terminal") << "EnableTRModeButton" << 392 << "終端機雙向模式 ( 傳送與回應 )";
    QTest::newRow("r2k") << "R2KModeButton" << 456 << "串列字碼 ==> 鍵盤事件";
    QTest::newRow("break") << "BreakButton" << 520 << "中斷..目前模式中的連線";
}

void TestMainWindow::toolButtons()
{
    QFETCH(QString, name);
    QFETCH(int, x);
    QFETCH(QString, hint);
    auto *button = Form1->findChild<QToolButton *>(name);
    QVERIFY(button);
    QCOMPARE(button->geometry(), QRect(x, 8, 57, 49));
    QCOMPARE(button->toolTip(), hint);
    QCOMPARE(button->accessibleDescription(), hint);
    QVERIFY(button->text().isEmpty() || button->toolButtonStyle() == Qt::ToolButtonIconOnly);
    QVERIFY(!button->icon().pixmap(40, 40).isNull());
}

void TestMainWindow::menuItems_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("parent");
    const char *rows[][3] = {
            {"RS232ConfigMenuBar", "串列埠參數", "SettingsMenuBar"},
            {"MiscMenuBar", "程式功能設定", "SettingsMenuBar"},
            {"ClearDataMenubar", "清除資料顯示區", "SettingsMenuBar"},
            {"ASCIIModeMenuBar", "文字模式 ( ASCII )", "DataModeMenubar"},
            {"HexModeMenuBar", "16進制模式 ( HEX )", "DataModeMenubar"},
            {"FontsMenubar", "字型", "DataModeMenubar"},
            {"SendModeMenubar", "傳送模式", "JobFunctionMenuBar"},
            {"Send_FileContentMenuBar", "傳送→檔案內容", "SendModeMenubar"},
            {"Send_UserStringMenuBar", "傳送→自定字串", "SendModeMenubar"},
            {"ReceiveModeMenubar", "接收模式", "JobFunctionMenuBar"},
            {"StartRecMenuBar", "啟動 ( 接收模式 )", "ReceiveModeMenubar"},
            {"TRModeMenubar", "通訊模式", "JobFunctionMenuBar"},
            {"EnableTRModeMenubar", "啟動 ( 通訊模式 )", "TRModeMenubar"},
            {"R2KModeMenubar", "R to K 模式", "JobFunctionMenuBar"},
            {"EnableR2KModeMenubar", "啟動 ( R2K 模式 )", "R2KModeMenubar"},
            {"ScriptModeMenuBar", "腳本模式…", "JobFunctionMenuBar"},
            {"MonitorModeMenuBar", "監聽模式", "JobFunctionMenuBar"},
            {"PassThroughModeMenuBar", "中繼模式", "JobFunctionMenuBar"},
            {"BreakMenuBar", "連線中斷(&B)", "JobFunctionMenuBar"},
            {"AboutMenubar", "關於", "HeloMenuBar"},
            {"VersionMenubar", "版本", "HeloMenuBar"},
    };
    for (auto &r : rows)
        QTest::newRow(r[0]) << r[0] << QString::fromUtf8(r[1]) << r[2];
}

void TestMainWindow::menuItems()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, parent);
    QAction *action = nullptr;
    if (QMenu *sub = Form1->findChild<QMenu *>(name))
        action = sub->menuAction();
    else
        action = Form1->findChild<QAction *>(name);
    QVERIFY(action);
    QCOMPARE(action->text(), caption);
    QVERIFY2(!action->icon().pixmap(16, 16).isNull(), "every item carries a glyph");
    auto *menu = Form1->findChild<QMenu *>(parent);
    QVERIFY(menu);
    QVERIFY(menu->actions().contains(action));
}

void TestMainWindow::displayModeCommands()
{
    const TForm1Controls &ui = TForm1Controls(Form1);
    int clears = 0;
    connect(ui.Memo1, &TrafficView::textChanged, this, [&] {
        if (ui.Memo1->isEmpty())
            ++clears;
    });
    for (int i = 0; i < 2; ++i) {
        ui.Memo1->setPlainText(QStringLiteral("traffic"));
        clears = 0;
        ui.HexModeMenuBar->trigger();
        QCOMPARE(clears, 1);
        QVERIFY(Form1->formatter().hexForm());
        QCOMPARE(Form1->statusPanel(1), QStringLiteral("HEX 模式"));
        QVERIFY(ui.HexModeMenuBar->isChecked());
        QVERIFY(!ui.ASCIIModeMenuBar->isChecked());
    }
    ui.Memo1->setPlainText(QStringLiteral("traffic"));
    ui.DataModeButton->click();
    QVERIFY(!Form1->formatter().hexForm());
    QCOMPARE(Form1->statusPanel(1), QStringLiteral("ASCII 模式"));
    QVERIFY(ui.ASCIIModeMenuBar->isChecked());
    QVERIFY(ui.Memo1->toPlainText().isEmpty());
    ui.Memo1->setPlainText(QStringLiteral("traffic"));
    ui.DataModeButton->click();
    QVERIFY(Form1->formatter().hexForm());
    QCOMPARE(Form1->statusPanel(1), QStringLiteral("HEX 模式"));
    QVERIFY(ui.Memo1->toPlainText().isEmpty());
}

void TestMainWindow::clearCommand()
{
    const TForm1Controls &ui = TForm1Controls(Form1);
    // In terminal mode Clear also opens a new labelled reply; the terminal tests drive that.
    ui.Memo1->setPlainText(QStringLiteral("abc"));
    ui.ClearDataButton->click();
    QVERIFY(ui.Memo1->toPlainText().isEmpty());
    ui.Memo1->setPlainText(QStringLiteral("abc"));
    ui.ClearDataMenubar->trigger();
    QVERIFY(ui.Memo1->toPlainText().isEmpty());
}

void TestMainWindow::fontCommand_data()
{
    QTest::addColumn<bool>("terminalBox");
    QTest::newRow("display (字型)") << false;
    QTest::newRow("message box (下方訊息字型)") << true;
}

void TestMainWindow::fontCommand()
{
    QFETCH(bool, terminalBox);
    const TForm1Controls &ui = TForm1Controls(Form1);
    QWidget *box = terminalBox ? static_cast<QWidget *>(ui.Memo2) : ui.Memo1;
    const auto openDialog = [&] {
        if (terminalBox)
            ui.MessageFontColorButton->click();
        else
            ui.FontsMenubar->trigger();
    };
    const QFont before = box->font();
    answerNextModal([](QWidget *w) { static_cast<QDialog *>(w)->reject(); });
    openDialog();
    QCOMPARE(box->font(), before);

    // OK without a change keeps the font exactly: its family is a substitution the dialog does
    // not list, so the dialog is shown what really draws it.
    QString offeredFamily;
    answerNextModal([&offeredFamily](QWidget *w) {
        auto *dialog = qobject_cast<QFontDialog *>(w);
        offeredFamily = dialog->currentFont().family();
        dialog->accept();
    });
    openDialog();
    QCOMPARE(offeredFamily, QFontInfo(before).family());
    QCOMPARE(box->font(), before);
    QCOMPARE(box->font().family(), before.family());
    QCOMPARE(box->font().pixelSize(), before.pixelSize());

    answerNextModal([](QWidget *w) {
        auto *dialog = qobject_cast<QFontDialog *>(w);
        dialog->setCurrentFont(QFont(QStringLiteral("DejaVu Sans"), 20));
        dialog->accept();
    });
    openDialog();
    QCOMPARE(box->font(), Form1->FontDialog1->selectedFont());
    QCOMPARE(box->font().pointSize(), 20);
    QVERIFY(box->font() != before);
}

void TestMainWindow::messageBoxLooks()
{
    const QString text = QStringLiteral("檔案名稱 : /tmp/a.bin\n檔案大小 : 3\n總共傳送 : 3\n傳送完畢!");
    for (const MessageBoxes::Kind kind : {Kind::Plain, Kind::Error}) {
        const std::unique_ptr<QMessageBox> box = MessageBoxes::build(kind, Form1, text);
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        QCOMPARE(box->windowTitle(), QStringLiteral("TELVIX"));
        QCOMPARE(box->icon(), kind == Kind::Error ? QMessageBox::Critical : QMessageBox::NoIcon);
        QCOMPARE(box->button(QMessageBox::Ok)->text(), QStringLiteral("確定"));
        // Room for a window manager's title bar to show the title whole.
        QVERIFY(box->width() >= box->fontMetrics().horizontalAdvance(box->windowTitle()) + 150);
        // The lines stand apart, and read as the text they were given.
        auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        QVERIFY(label);
        QVERIFY(label->text().contains(QStringLiteral("line-height")));
        QTextDocument doc;
        doc.setHtml(label->text());
        QCOMPARE(doc.toPlainText().replace(QChar::LineSeparator, u'\n'), text);
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(label);
        QCOMPARE(iface->text(QAccessible::Name).replace(QChar::LineSeparator, u'\n'), text);
        box->hide();
    }
    // Text that looks like markup stays text.
    const std::unique_ptr<QMessageBox> box =
            MessageBoxes::build(Kind::Plain, Form1, QStringLiteral("<b>1 < 2 & 3</b>"));
    QTextDocument doc;
    doc.setHtml(box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))->text());
    QCOMPARE(doc.toPlainText(), QStringLiteral("<b>1 < 2 & 3</b>"));
}

void TestMainWindow::qtDialogsSpeakChinese()
{
    if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath)
                       + QStringLiteral("/qtbase_zh_TW.qm")))
        QSKIP("Qt's translations (qt6-translations-l10n) are not installed");
    QVERIFY(Translations::install());
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    QCOMPARE(QCoreApplication::translate("QFontDialog", "Select Font"),
             QStringLiteral("選擇字型"));
}

void TestMainWindow::modeFrameSwitchesItsColumn_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("startText");
    QTest::addColumn<bool>("readOnlyLook");
    QTest::newRow("receive") << int(Mode::Receive) << "接收模式(已啟動執行)...." << true;
    QTest::newRow("file send") << int(Mode::FileSend) << "傳送(檔案內容)" << false;
    QTest::newRow("terminal") << int(Mode::Terminal) << "通訊模式(已啟動執行)...." << true;
    QTest::newRow("r2k") << int(Mode::R2K) << "R2K模式(已啟動執行) ....." << true;
    QTest::newRow("script") << int(Mode::Script) << "腳本模式(已啟動執行)...." << true;
    QTest::newRow("monitor") << int(Mode::Monitor) << "監聽模式(已啟動執行)...." << true;
    QTest::newRow("pass-through") << int(Mode::PassThrough) << "中繼模式(已啟動執行)...."
                                  << true;
}

void TestMainWindow::modeFrameSwitchesItsColumn()
{
    QFETCH(int, mode);
    QFETCH(QString, startText);
    QFETCH(bool, readOnlyLook);
    const Mode m = Mode(mode);
    Pty pty;
    QVERIFY(pty.isOpen());
    PortSettings::DevicePathText = pty.slavePath();
    const TForm1Controls &ui = TForm1Controls(Form1);
    const QColor colour = Form1->memo1Colour();
    ui.Memo1->setPlainText(QStringLiteral("before"));

    std::set<QString> off;
    for (std::string_view n : ModeTable::controlsOff(m))
        off.insert(QString::fromUtf8(n.data(), qsizetype(n.size())));
    bool checked = false;
    const bool ran = runIdleMode(m, [&] {
        for (const QString &name : allTableControls())
            QCOMPARE(controlEnabled(name), !off.count(name));
        QVERIFY(ui.BreakMenuBar->isEnabled());
        QVERIFY(ui.BreakButton->isEnabled());
        QCOMPARE(Form1->statusPanel(2), startText);
        QCOMPARE(*ModeTable::column(m).activeFlag, uint8_t(1));
        QCOMPARE(SerialPort::openCount(), 1);
        QCOMPARE(ui.Memo1->isReadOnly(), readOnlyLook);
        QCOMPARE(ui.Memo1->toPlainText().isEmpty(), ModeTable::column(m).clearMemoAtStart);
        if (readOnlyLook)
            QCOMPARE(Form1->memo1Colour(), Form1->palette().color(QPalette::Button));
        QCOMPARE(ui.Panel8->isVisible(), m == Mode::Terminal);
        QCOMPARE(ui.EchoDataPanel->isVisible(), m == Mode::Terminal);
        checked = true;
        ui.BreakButton->click();
    });
    QVERIFY(ran);
    QVERIFY(checked);
    for (const QString &name : allTableControls())
        QVERIFY2(controlEnabled(name), qPrintable(name));
    QVERIFY(!ui.BreakMenuBar->isEnabled());
    QVERIFY(!ui.BreakButton->isEnabled());
    QVERIFY(!ui.Memo1->isReadOnly());
    QCOMPARE(Form1->memo1Colour(), colour);
    QVERIFY(!ui.Panel8->isVisible());
    QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
    QCOMPARE(ModeState::BreakRequested, uint8_t(0));
    QCOMPARE(*ModeTable::column(m).activeFlag, uint8_t(0));
    QCOMPARE(SerialPort::openCount(), 0);
    // The port was given back: it opens again at once.
    QVERIFY(runIdleMode(m, [&] { ui.BreakMenuBar->trigger(); }));
}

void TestMainWindow::modeEndRestoresColourOfItsStart()
{
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    Form1->setMemo1Colour(Qt::yellow);
    QVERIFY(runIdleMode(Mode::Receive, [] {
        Form1->setMemo1Colour(Qt::cyan); // as the settings dialog may do meanwhile
        TForm1Controls(Form1).BreakButton->click();
    }));
    QCOMPARE(Form1->memo1Colour(), QColor(Qt::yellow));
}

void TestMainWindow::closeRefusedWhileModeRuns()
{
    MessageRecorder boxes;
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    bool stayedOpen = false;
    QVERIFY(runIdleMode(Mode::Receive, [&] {
        QVERIFY(!Form1->close());
        stayedOpen = Form1->isVisible();
        TForm1Controls(Form1).BreakButton->click();
    }));
    QVERIFY(stayedOpen);
    QCOMPARE(boxes.texts(Kind::Plain), QStringList {QStringLiteral("還在連線中唷...請先中斷連線")});
    for (uint8_t *flag : {&ModeState::SendActive, &ModeState::TRModeActive,
                          &ModeState::R2KModeActive, &ModeState::ScriptModeActive,
                          &ModeState::MonitorModeActive, &ModeState::PassThroughModeActive}) {
        *flag = 1;
        QVERIFY(!Form1->close());
        *flag = 0;
    }
    boxes.clear();
    QVERIFY(Form1->close());
    QVERIFY(boxes.shown.isEmpty());
}

void TestMainWindow::failedOpenChangesNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << "/dev/telvix-no-such-port"
                             << " 埠,無法開啟\n找不到裝置 /dev/telvix-no-such-port";
    QTest::newRow("not a tty") << "/dev/null"
                               << " 埠,目前不供存取權\n不是終端裝置";
}

void TestMainWindow::failedOpenChangesNothing()
{
    QFETCH(QString, path);
    QFETCH(QString, message);
    MessageRecorder boxes;
    PortSettings::DevicePathText = path;
    PortSettings::PortNameText = path;
    const TForm1Controls &ui = TForm1Controls(Form1);
    ui.Memo1->setPlainText(QStringLiteral("kept"));
    Form1->setMemo1Colour(Qt::green);
    for (int mode = 0; mode < ModeCount; ++mode) {
        const Mode m = Mode(mode);
        boxes.clear();
        QVERIFY(!runIdleMode(m, [] {}));
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown[0].kind, Kind::Beep); // the sound first, the box after it
        QCOMPARE(boxes.shown[1].text, path + message);
        QCOMPARE(*ModeTable::column(m).activeFlag, uint8_t(0));
        QCOMPARE(SerialPort::openCount(), 0);
        QCOMPARE(ui.Memo1->toPlainText(), QStringLiteral("kept"));
        QCOMPARE(Form1->memo1Colour(), QColor(Qt::green));
        QVERIFY(!ui.Memo1->isReadOnly());
        QCOMPARE(Form1->statusPanel(2), QStringLiteral("未連線"));
        QVERIFY(!ui.BreakButton->isEnabled());
        for (const QString &name : allTableControls())
            QVERIFY2(controlEnabled(name), qPrintable(name));
    }
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
