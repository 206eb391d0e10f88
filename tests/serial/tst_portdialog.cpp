// SPDX-License-Identifier: MIT
// The port settings dialog through its controls, and opening the port it names.
#include "FakeLines.h"
#include "FakeSysfs.h"
#include "GuiHelpers.h"
#include "Pty.h"

#include "main/Telvixmain1.h"
#include "serial/PortDirectory.h"
#include "serial/PortSettings.h"
#include "serial/SerialLine.h"
#include "serial/Telvixmain2.h"
#include "TForm1Controls.h"
#include "TForm2Controls.h"
#include "serial/SerialPort.h"

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QTreeWidget>

#include <fcntl.h>
#include <linux/serial.h>
#include <unistd.h>

using MessageBoxes::Kind;
using serial::Parity;

namespace {

struct Edits
{
    QString port = QStringLiteral("1");
    QString baud = QStringLiteral("9600");
    QString parity = QStringLiteral("RadioButton11");
    QString dataBits = QStringLiteral("RadioButton14");
    QString stopBits = QStringLiteral("RadioButton16");
    QString devicePath;
    serial::Rs485Config rs485 {};
};

// The RS-485 row's controls, by the start their names share.
QList<QWidget *> rs485Row()
{
    return Form2->findChildren<QWidget *>(QRegularExpression(QStringLiteral("^Rs485")));
}

void fillRs485(const TForm2Controls &ui, const serial::Rs485Config &c)
{
    ui.Rs485Check->setChecked(c.enabled);
    ui.Rs485RtsOnSendCheck->setChecked(c.rtsOnSend);
    ui.Rs485RtsAfterSendCheck->setChecked(c.rtsAfterSend);
    ui.Rs485DelayBeforeSpin->setValue(int(c.delayBeforeSendMs));
    ui.Rs485DelayAfterSpin->setValue(int(c.delayAfterSendMs));
}

// Opens the dialog through the tool button, fills it in and leaves it by `button`.
void runPortDialog(const Edits &e, const char *button = "BitBtn1")
{
    answerNextModal([e, button](QWidget *w) {
        auto *dialog = qobject_cast<TForm2 *>(w);
        QVERIFY(dialog);
        const TForm2Controls &ui = TForm2Controls(dialog);
        ui.ComPortEdit->setText(e.port);
        ui.BaudRateEdit->setText(e.baud);
        ui.DevicePathEdit->setText(e.devicePath);
        fillRs485(ui, e.rs485);
        for (const QString &name : {e.parity, e.dataBits, e.stopBits})
            dialog->findChild<QRadioButton *>(name)->setChecked(true);
        dialog->findChild<QPushButton *>(QLatin1String(button))->click();
    });
    TForm1Controls(Form1).Rs232ConfigButton->click();
}

// Where a user clicks a row of the port list: on its COM number.
QPoint rowStart(QTreeWidget *list, QTreeWidgetItem *item)
{
    const QRect row = list->visualItemRect(item);
    return {row.left() + 8, row.center().y()};
}

// A double click as the window system delivers it: a click, then the second press as a
// double click.
void doubleClick(QTreeWidget *list, QTreeWidgetItem *item)
{
    const QPoint at = rowStart(list, item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

// Opens the port as a mode start would, and gives it back.
bool openAndClose()
{
    return Form1->Initial_RS232_Register() != nullptr;
}

} // namespace

class TestPortDialog : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void dialogLayout();
    void documentedRowsStay_data();
    void documentedRowsStay();
    void buttonsBelowEverythingAdded();
    void descriptionShowsWhole_data();
    void descriptionShowsWhole();
    void choosingFromTheList();
    void okApplies_data();
    void okApplies();
    void cancelKeepsEditsInDialog();
    void escapeIsCancel();
    void baudTextThatIsNoNumber_data();
    void baudTextThatIsNoNumber();
    void comTextNamesPortInList_data();
    void comTextNamesPortInList();
    void portListShowsDescriptions();
    void shiftedComNumberAsks_data();
    void shiftedComNumberAsks();
    void devicePathRowTakesPrecedence();
    void configurationFailureReleasesPort();
    void heldPortFailsToOpen();
    void rs485RowBelowTheOthers();
    void rs485RowKept_data();
    void rs485RowKept();
    void rs485RowFollowsThePath_data();
    void rs485RowFollowsThePath();
    void rs485RefusalTold();
};

void TestPortDialog::dialogLayout()
{
    QCOMPARE(Form2->windowTitle(), QStringLiteral("RS232 參數設定"));
    const TForm2Controls &ui = TForm2Controls(Form2);
    QCOMPARE(ui.ComPortEdit->maxLength(), 2);
    QCOMPARE(ui.ComPortEdit->text(), QStringLiteral("1"));
    QCOMPARE(ui.BaudRateEdit->text(), QStringLiteral("9600"));
    QVERIFY(ui.RadioButton11->isChecked());
    QVERIFY(ui.RadioButton14->isChecked());
    QVERIFY(ui.RadioButton16->isChecked());
    QVERIFY(ui.BitBtn1->isDefault());
    QCOMPARE(ui.DevicePathLabel->text(), QStringLiteral("裝置路徑"));
    QCOMPARE(ui.DevicePathLabel->buddy(), ui.DevicePathEdit);
    // The documented rows keep their place in the first 290 x 197 pixels.
    for (QWidget *w : {static_cast<QWidget *>(ui.GroupBox1), static_cast<QWidget *>(ui.GroupBox5)})
        QVERIFY(QRect(0, 0, 290, 197).contains(w->geometry()));
}

void TestPortDialog::documentedRowsStay_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("串列埠") << "GroupBox1" << QRect(8, 8, 129, 49);
    QTest::newRow("傳輸速率") << "GroupBox2" << QRect(145, 8, 137, 49);
    QTest::newRow("同位元") << "GroupBox3" << QRect(8, 62, 129, 127);
    QTest::newRow("資料位元") << "GroupBox4" << QRect(145, 62, 65, 64);
    QTest::newRow("停止位元") << "GroupBox5" << QRect(217, 62, 65, 64);
}

void TestPortDialog::documentedRowsStay()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    // A long description widens the form: what is documented does not move for it.
    FakeSysfs sys;
    sys.addUsbSerial(QStringLiteral("ttyUSB0"), QStringLiteral("Prolific Technology Inc."),
                     QStringLiteral("USB-Serial Controller with a long product name"),
                     QStringLiteral("0123456789ABCDEF"));
    serial::CurrentScanRoots = sys.roots();
    Form2->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form2));
    const QRect seen = Form2->findChild<QGroupBox *>(name)->geometry();
    Form2->hide();
    QCOMPARE(seen, geometry);
}

void TestPortDialog::buttonsBelowEverythingAdded()
{
    FakeSysfs sys;
    sys.addUart(0);
    sys.addUsbSerial(QStringLiteral("ttyUSB0"), QStringLiteral("FTDI"),
                     QStringLiteral("FT232R USB UART"), QStringLiteral("A50285BI"));
    serial::CurrentScanRoots = sys.roots();
    Form2->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form2));
    const auto hide = qScopeGuard([] { Form2->hide(); });
    const TForm2Controls &ui = TForm2Controls(Form2);
    const QRect ok = ui.BitBtn1->geometry();
    const QRect cancel = ui.BitBtn2->geometry();
    for (QWidget *w : Form2->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (w == ui.BitBtn1 || w == ui.BitBtn2 || !w->isVisible())
            continue;
        QVERIFY2(w->geometry().bottom() < std::min(ok.top(), cancel.top()),
                 qPrintable(w->objectName()));
    }
    // 確定 first, 取消 beside it, both inside the form.
    QCOMPARE(ok.top(), cancel.top());
    QVERIFY(ok.right() < cancel.left());
    QVERIFY(Form2->rect().contains(ok) && Form2->rect().contains(cancel));
}

void TestPortDialog::descriptionShowsWhole_data()
{
    QTest::addColumn<QString>("maker");
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("serialNumber");
    QTest::newRow("common adapter") << "FTDI"
                                    << "FT232R USB UART"
                                    << "A50285BI";
    // Wider than the screen allows: the description wraps.
    QTest::newRow("longer than the screen")
            << "Prolific Technology Inc."
            << "USB-Serial Controller with a very long product name that its maker chose"
            << "0123456789ABCDEF";
}

void TestPortDialog::descriptionShowsWhole()
{
    QFETCH(QString, maker);
    QFETCH(QString, product);
    QFETCH(QString, serialNumber);
    FakeSysfs sys;
    sys.addUart(0);
    sys.addUsbSerial(QStringLiteral("ttyUSB0"), maker, product, serialNumber);
    serial::CurrentScanRoots = sys.roots();
    Form2->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form2));
    const auto hide = qScopeGuard([] { Form2->hide(); });
    QVERIFY(Form2->frameGeometry().width() <= Form2->screen()->availableGeometry().width());
    QTreeWidget *list = TForm2Controls(Form2).PortListView;
    const QHeaderView *header = list->header();
    QVERIFY2(header->sectionViewportPosition(2) + header->sectionSize(2)
                     <= list->viewport()->width(),
             "the 說明 column runs past the list's edge");
    const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    const int width = header->sectionSize(2) - 2 * margin;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        QTreeWidgetItem *item = list->topLevelItem(row);
        const QString text = item->text(2);
        const QRect needed = list->fontMetrics().boundingRect(QRect(0, 0, width, 100000),
                                                              Qt::TextWordWrap, text);
        QVERIFY2(needed.width() <= width, qPrintable(text));
        const bool oneLine = list->fontMetrics().horizontalAdvance(text) <= width;
        QVERIFY2(oneLine || list->wordWrap(), qPrintable(text));
        QVERIFY2(needed.height() <= list->visualItemRect(item).height(), qPrintable(text));
    }
}

void TestPortDialog::okApplies_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<QString>("dataBits");
    QTest::addColumn<QString>("stopBits");
    QTest::addColumn<QString>("panel");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<Parity>("parityValue");
    QTest::addColumn<int>("dataBitsCode");
    QTest::addColumn<int>("stopBitsCode");
    QTest::newRow("defaults") << "1"
                              << "9600"
                              << "RadioButton11"
                              << "RadioButton14"
                              << "RadioButton16"
                              << "COM1 = 9600 , N , 8 , 1" << 9600 << Parity::None << 8 << 0;
    QTest::newRow("COM3 19200 E 7 2")
            << "3"
            << "19200"
            << "RadioButton12"
            << "RadioButton15"
            << "RadioButton17"
            << "COM3 = 19200 , E , 7 , 2" << 19200 << Parity::Even << 7 << 2;
    QTest::newRow("leading zero") << "1"
                                  << "09600"
                                  << "RadioButton11"
                                  << "RadioButton14"
                                  << "RadioButton16"
                                  << "COM1 = 09600 , N , 8 , 1" << 9600 << Parity::None << 8 << 0;
    QTest::newRow("odd") << "2"
                         << "4800"
                         << "RadioButton13"
                         << "RadioButton14"
                         << "RadioButton16"
                         << "COM2 = 4800 , O , 8 , 1" << 4800 << Parity::Odd << 8 << 0;
    QTest::newRow("mark") << "12"
                          << "1200"
                          << "RadioButton18"
                          << "RadioButton15"
                          << "RadioButton16"
                          << "COM12 = 1200 , M , 7 , 1" << 1200 << Parity::Mark << 7 << 0;
    QTest::newRow("space") << "1"
                           << "300"
                           << "RadioButton19"
                           << "RadioButton14"
                           << "RadioButton17"
                           << "COM1 = 300 , S , 8 , 2" << 300 << Parity::Space << 8 << 2;
}

void TestPortDialog::okApplies()
{
    QFETCH(QString, port);
    QFETCH(QString, baud);
    QFETCH(QString, parity);
    QFETCH(QString, dataBits);
    QFETCH(QString, stopBits);
    QFETCH(QString, panel);
    Edits e {port, baud, parity, dataBits, stopBits, {}};
    runPortDialog(e);
    QCOMPARE(Form1->statusPanel(0), panel);
    QTEST(int(PortSettings::BaudRate), "baudRate");
    QTEST(PortSettings::Parity, "parityValue");
    QTEST(int(PortSettings::DataBits), "dataBitsCode");
    QTEST(int(PortSettings::StopBits), "stopBitsCode");
    QCOMPARE(PortSettings::PortNumberText, port);
    QCOMPARE(PortSettings::PortNameText, QStringLiteral("COM") + port);
    QCOMPARE(PortSettings::BaudRateText, baud);
}

void TestPortDialog::cancelKeepsEditsInDialog()
{
    runPortDialog({QStringLiteral("3"),
                   QStringLiteral("19200"),
                   QStringLiteral("RadioButton12"),
                   QStringLiteral("RadioButton15"),
                   QStringLiteral("RadioButton17"),
                   {}},
                  "BitBtn2");
    QCOMPARE(Form1->statusPanel(0), QStringLiteral("COM1 = 9600 , N , 8 , 1"));
    QCOMPARE(PortSettings::PortNumberText, QStringLiteral("1"));
    QCOMPARE(PortSettings::BaudRate, 9600);
    QCOMPARE(PortSettings::Parity, Parity::None);

    // The edits wait in the dialog; OK at its next showing applies them unchanged.
    answerNextModal([](QWidget *w) {
        const TForm2Controls &ui = TForm2Controls(w);
        QCOMPARE(ui.ComPortEdit->text(), QStringLiteral("3"));
        QCOMPARE(ui.BaudRateEdit->text(), QStringLiteral("19200"));
        QVERIFY(ui.RadioButton12->isChecked());
        QVERIFY(ui.RadioButton15->isChecked());
        QVERIFY(ui.RadioButton17->isChecked());
        ui.BitBtn1->click();
    });
    TForm1Controls(Form1).RS232ConfigMenuBar->trigger();
    QCOMPARE(Form1->statusPanel(0), QStringLiteral("COM3 = 19200 , E , 7 , 2"));
}

void TestPortDialog::escapeIsCancel()
{
    int result = -1;
    answerNextModal([](QWidget *w) { QTest::keyClick(w, Qt::Key_Escape); });
    result = Form2->exec();
    QCOMPARE(result, int(TForm2::ResultCancel));
    answerNextModal([](QWidget *w) { w->close(); });
    result = Form2->exec();
    QCOMPARE(result, int(TForm2::ResultCancel));
    answerNextModal([](QWidget *w) {
        QTest::keyClick(TForm2Controls(w).BaudRateEdit, Qt::Key_Return);
    });
    result = Form2->exec();
    QCOMPARE(result, int(TForm2::ResultOk));
}

void TestPortDialog::baudTextThatIsNoNumber_data()
{
    QTest::addColumn<QString>("baud");
    QTest::newRow("letters") << "abc";
    QTest::newRow("empty") << "";
    QTest::newRow("blank inside") << "96 00";
    QTest::newRow("beyond 32 bits") << "99999999999";
    QTest::newRow("wide digits") << "９６００";
}

void TestPortDialog::baudTextThatIsNoNumber()
{
    QFETCH(QString, baud);
    MessageRecorder boxes;
    runPortDialog({QStringLiteral("4"),
                   baud,
                   QStringLiteral("RadioButton12"),
                   QStringLiteral("RadioButton15"),
                   QStringLiteral("RadioButton17"),
                   {}});
    QCOMPARE(boxes.shown.size(), 1);
    QCOMPARE(boxes.shown[0].kind, Kind::Error);
    QCOMPARE(boxes.shown[0].title, QStringLiteral("TELVIX"));
    QCOMPARE(boxes.shown[0].text, QStringLiteral("'%1' is not a valid integer value.").arg(baud));
    // The port texts were taken before the conversion; nothing after it was.
    QCOMPARE(PortSettings::PortNumberText, QStringLiteral("4"));
    QCOMPARE(PortSettings::PortNameText, QStringLiteral("COM4"));
    QCOMPARE(PortSettings::BaudRate, 9600);
    QCOMPARE(PortSettings::BaudRateText, QStringLiteral("9600"));
    QCOMPARE(PortSettings::Parity, Parity::None);
    QCOMPARE(PortSettings::DataBits, uint8_t(8));
    QCOMPARE(PortSettings::StopBits, uint8_t(0));
    QCOMPARE(Form1->statusPanel(0), QStringLiteral("COM1 = 9600 , N , 8 , 1"));
}

void TestPortDialog::comTextNamesPortInList_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("message");
    QTest::newRow("10 is the tenth port") << "10" << true << "";
    QTest::newRow("1 is the first port") << "1" << true << "";
    const QString none = QStringLiteral(" 埠,無法開啟\n沒有這個埠 (本機有 COM1 ~ COM10)");
    QTest::newRow("letters") << "ab" << false << "COMab" + none;
    QTest::newRow("empty") << "" << false << "COM" + none;
    QTest::newRow("beyond the list") << "11" << false << "COM11" + none;
    QTest::newRow("leading zero") << "01" << false << "COM01" + none;
}

void TestPortDialog::comTextNamesPortInList()
{
    QFETCH(QString, port);
    QFETCH(bool, opens);
    QFETCH(QString, message);
    // Ten onboard ports whose device nodes are pseudo-terminals, so any of them can open.
    FakeSysfs sys;
    Pty ptys[10];
    for (int i = 0; i < 10; ++i) {
        sys.addUart(i);
        sys.linkDevice(QStringLiteral("ttyS%1").arg(i), ptys[i].slavePath());
    }
    sys.addUart(10, false); // no UART behind it: takes no number
    serial::CurrentScanRoots = sys.roots();
    MessageRecorder boxes;
    runPortDialog({port,
                   QStringLiteral("9600"),
                   QStringLiteral("RadioButton11"),
                   QStringLiteral("RadioButton14"),
                   QStringLiteral("RadioButton16"),
                   {}});
    QCOMPARE(openAndClose(), opens);
    if (opens) {
        QVERIFY(boxes.shown.isEmpty());
        // The port that opened is the one the number names: its master sees our bytes.
        const int index = port.toInt() - 1;
        PortSettings::DevicePathText.clear();
        std::unique_ptr<SerialPort> opened = Form1->Initial_RS232_Register();
        QVERIFY(opened && opened->writeByte(0x5A));
        QCOMPARE(ptys[index].read(1), QByteArray("Z"));
        opened.reset();
    } else {
        QCOMPARE(boxes.texts(Kind::Plain), QStringList {message});
        QCOMPARE(boxes.shown.first().kind, Kind::Beep);
    }
}

void TestPortDialog::portListShowsDescriptions()
{
    FakeSysfs sys;
    sys.addUart(0);
    sys.addUart(1, false);
    sys.addUsbSerial(QStringLiteral("ttyUSB0"), QStringLiteral("FTDI"),
                     QStringLiteral("FT232R USB UART"), QStringLiteral("A50285BI"));
    serial::CurrentScanRoots = sys.roots();
    answerNextModal([](QWidget *w) {
        const TForm2Controls &ui = TForm2Controls(w);
        QCOMPARE(ui.PortListView->topLevelItemCount(), 2);
        QCOMPARE(ui.PortListView->topLevelItem(0)->text(0), QStringLiteral("COM1"));
        QVERIFY(ui.PortListView->topLevelItem(0)->text(1).endsWith(QStringLiteral("/ttyS0")));
        QCOMPARE(ui.PortListView->topLevelItem(1)->text(0), QStringLiteral("COM2"));
        const QString usb = ui.PortListView->topLevelItem(1)->text(2);
        QVERIFY2(usb.contains(QStringLiteral("FTDI")) && usb.contains(QStringLiteral("A50285BI")),
                 qPrintable(usb));
        // The line under the list follows the typed number.
        ui.ComPortEdit->setText(QStringLiteral("2"));
        QVERIFY(ui.PortMappingLabel->text().contains(QStringLiteral("ttyUSB0")));
        ui.ComPortEdit->setText(QStringLiteral("7"));
        QVERIFY(ui.PortMappingLabel->text().contains(QStringLiteral("沒有這個埠")));
        ui.DevicePathEdit->setText(QStringLiteral("/dev/pts/9"));
        QVERIFY(ui.PortMappingLabel->text().contains(QStringLiteral("/dev/pts/9")));
        ui.BitBtn2->click();
    });
    TForm1Controls(Form1).Rs232ConfigButton->click();
}

void TestPortDialog::devicePathRowTakesPrecedence()
{
    Pty pty;
    serial::CurrentScanRoots = FakeSysfs().roots(); // no port at all
    MessageRecorder boxes;
    runPortDialog({QStringLiteral("ab"), QStringLiteral("115200"), QStringLiteral("RadioButton11"),
                   QStringLiteral("RadioButton14"), QStringLiteral("RadioButton16"),
                   pty.slavePath()});
    QCOMPARE(Form1->statusPanel(0), QStringLiteral("%1 = 115200 , N , 8 , 1").arg(pty.slavePath()));
    QVERIFY(openAndClose());
    QVERIFY(boxes.shown.isEmpty());

    // The messages name the path too.
    runPortDialog({QStringLiteral("1"), QStringLiteral("9600"), QStringLiteral("RadioButton11"),
                   QStringLiteral("RadioButton14"), QStringLiteral("RadioButton16"),
                   QStringLiteral("/dev/telvix-missing")});
    QVERIFY(!openAndClose());
    QCOMPARE(boxes.lastText(),
             QStringLiteral("/dev/telvix-missing 埠,無法開啟\n找不到裝置 /dev/telvix-missing"));
}

void TestPortDialog::configurationFailureReleasesPort()
{
    Pty pty;
    MessageRecorder boxes;
    for (const char *baud : {"0", "-9600"}) {
        runPortDialog({QStringLiteral("1"), QString::fromLatin1(baud),
                       QStringLiteral("RadioButton11"), QStringLiteral("RadioButton14"),
                       QStringLiteral("RadioButton16"), pty.slavePath()});
        boxes.clear();
        QVERIFY(!openAndClose());
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown[0].kind, Kind::Beep);
        QCOMPARE(boxes.shown[1].text,
                 pty.slavePath() + QStringLiteral(" 埠,無法寫入參數值\n速率不正確"));
        QCOMPARE(SerialPort::openCount(), 0);
    }
    // Nothing is held: with the baud rate corrected the port opens at once.
    runPortDialog({QStringLiteral("1"), QStringLiteral("9600"), QStringLiteral("RadioButton11"),
                   QStringLiteral("RadioButton14"), QStringLiteral("RadioButton16"),
                   pty.slavePath()});
    QVERIFY(openAndClose());
}

void TestPortDialog::heldPortFailsToOpen()
{
    Pty pty;
    const serial::OpenResult other = serial::openPort(pty.slavePath().toStdString());
    QVERIFY(other.fd >= 0);
    PortSettings::DevicePathText = pty.slavePath();
    PortSettings::PortNameText = pty.slavePath();
    MessageRecorder boxes;
    QVERIFY(!openAndClose());
    QCOMPARE(boxes.lastText(),
             pty.slavePath() + QStringLiteral(" 埠,無法開啟\n裝置忙碌中 (另一個程式正在使用它)"));
    serial::closePort(other.fd);
    QVERIFY(openAndClose());
}

void TestPortDialog::shiftedComNumberAsks_data()
{
    QTest::addColumn<QString>("confirm"); // "com": COM1 by OK; "path": the device path; "none"
    QTest::addColumn<QString>("change"); // what happens to the adapters after that
    QTest::addColumn<int>("answer"); // -1: no question expected; 0 否, 1 是
    QTest::addColumn<int>("opened"); // the adapter whose line opens (0 the first, 1 the one
                                     // plugged in), -1 none
    QTest::newRow("shifted, 否 opens nothing") << "com"
                                               << "plug before" << 0 << -1;
    QTest::newRow("shifted, 是 opens and remembers") << "com"
                                                     << "plug before" << 1 << 1;
    QTest::newRow("nothing shifted") << "com"
                                     << "plug after" << -1 << 0;
    QTest::newRow("same adapter at another node") << "com"
                                                  << "moved" << -1 << 0;
    QTest::newRow("never confirmed") << "none"
                                     << "plug before" << -1 << 1;
    QTest::newRow("device path") << "path"
                                 << "plug before" << -1 << 0;
}

void TestPortDialog::shiftedComNumberAsks()
{
    QFETCH(QString, confirm);
    QFETCH(QString, change);
    QFETCH(int, answer);
    QFETCH(int, opened);
    // Two adapters of one kind told apart by their serial numbers; their nodes are ptys.
    FakeSysfs sys;
    Pty lines[2];
    sys.addUsbSerial(QStringLiteral("ttyUSB1"), QStringLiteral("FTDI"),
                     QStringLiteral("FT232R USB UART"), QStringLiteral("A1"));
    sys.linkDevice(QStringLiteral("ttyUSB1"), lines[0].slavePath());
    serial::CurrentScanRoots = sys.roots();
    const QString dev = QString::fromStdString(sys.roots().devDir);
    if (confirm == u"com")
        runPortDialog({});
    else if (confirm == u"path")
        runPortDialog({.devicePath = dev + QStringLiteral("/ttyUSB1")});
    QCOMPARE(Form1->statusPanel(0).startsWith(u"COM1 "), confirm != u"path");

    if (change == u"moved") {
        // Pulled and plugged in again: the kernel gave it another node, COM1 is still it.
        sys.removePort(QStringLiteral("ttyUSB1"));
        sys.addUsbSerial(QStringLiteral("ttyUSB3"), QStringLiteral("FTDI"),
                         QStringLiteral("FT232R USB UART"), QStringLiteral("A1"));
        sys.linkDevice(QStringLiteral("ttyUSB3"), lines[0].slavePath());
    } else {
        // A second adapter: a lower node takes COM1 from the first, a higher one COM2.
        const QString name =
                change == u"plug before" ? QStringLiteral("ttyUSB0") : QStringLiteral("ttyUSB2");
        sys.addUsbSerial(name, QStringLiteral("FTDI"), QStringLiteral("FT232R USB UART"),
                         QStringLiteral("B2"));
        sys.linkDevice(name, lines[1].slavePath());
    }

    MessageRecorder boxes;
    boxes.answerYes = answer == 1;
    for (int round = 0; round < 2; ++round) {
        boxes.clear();
        std::unique_ptr<SerialPort> port = Form1->Initial_RS232_Register();
        // 否 asks again at the next open; 是 took the new adapter, which asks no more.
        const bool asks = answer == 0 || (answer == 1 && round == 0);
        if (asks) {
            QCOMPARE(boxes.shown.size(), 1);
            QCOMPARE(boxes.shown[0].kind, Kind::Question);
            QCOMPARE(boxes.shown[0].text,
                     QStringLiteral("COM1 現在是 %1/ttyUSB0 FTDI FT232R USB UART (序號 B2) "
                                    "(原為 %1/ttyUSB1 FTDI FT232R USB UART (序號 A1))\n"
                                    "仍要開啟這個裝置嗎?")
                             .arg(dev));
        } else {
            QVERIFY2(boxes.shown.isEmpty(), qPrintable(boxes.lastText()));
        }
        QCOMPARE(bool(port), opened >= 0);
        QCOMPARE(SerialPort::openCount(), opened >= 0 ? 1 : 0);
        if (port) {
            QVERIFY(port->writeByte(0x5A));
            QCOMPARE(lines[opened].read(1), QByteArray("Z"));
        }
    }
    for (Pty &line : lines)
        QCOMPARE(line.readAvailable(), QByteArray());
}

void TestPortDialog::choosingFromTheList()
{
    FakeSysfs sys;
    sys.addUart(0);
    sys.addUsbSerial(QStringLiteral("ttyUSB0"), QStringLiteral("Prolific Technology Inc."),
                     QStringLiteral("USB-Serial Controller with a long product name"),
                     QStringLiteral("0123456789ABCDEF"));
    serial::CurrentScanRoots = sys.roots();
    answerNextModal([](QWidget *w) {
        auto *dialog = qobject_cast<TForm2 *>(w);
        // A check that fails leaves the dialog to the guard, not the test waiting on it.
        const auto guard = qScopeGuard([dialog] {
            if (dialog->isVisible())
                dialog->reject();
        });
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        const TForm2Controls &ui = TForm2Controls(dialog);
        // The number is where typing goes at once.
        QCOMPARE(QApplication::focusWidget(), ui.ComPortEdit);
        QTreeWidget *list = ui.PortListView;
        // The number and the device are never cut (the description wraps, see
        // descriptionShowsWhole); each cell tells itself whole on hover too.
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            QTreeWidgetItem *item = list->topLevelItem(row);
            for (int column = 0; column < 3; ++column) {
                const int needed = list->fontMetrics().horizontalAdvance(item->text(column));
                QVERIFY2(column == 2 || list->columnWidth(column) >= needed,
                         qPrintable(item->text(column)));
                QVERIFY(item->toolTip(column).contains(column == 0 ? item->text(1)
                                                                  : item->text(column)));
            }
        }
        // One click takes the port's number; the dialog stays for the rest.
        QTreeWidgetItem *usb = list->topLevelItem(1);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowStart(list, usb));
        QCOMPARE(ui.ComPortEdit->text(), QStringLiteral("2"));
        QVERIFY(dialog->isVisible());
        // A double click takes it and confirms.
        doubleClick(list, usb);
    });
    TForm1Controls(Form1).Rs232ConfigButton->click();
    QCOMPARE(Form1->statusPanel(0), QStringLiteral("COM2 = 9600 , N , 8 , 1"));

    // And back, from COM2 to COM1, by a double click alone.
    answerNextModal([](QWidget *w) {
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTreeWidget *list = TForm2Controls(w).PortListView;
        doubleClick(list, list->topLevelItem(0));
        // Should the click not have confirmed, the test fails rather than waits.
        if (w->isVisible())
            qobject_cast<TForm2 *>(w)->reject();
    });
    TForm1Controls(Form1).Rs232ConfigButton->click();
    QCOMPARE(Form1->statusPanel(0), QStringLiteral("COM1 = 9600 , N , 8 , 1"));
}

void TestPortDialog::rs485RowBelowTheOthers()
{
    Form2->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form2));
    const auto hide = qScopeGuard([] { Form2->hide(); });
    const TForm2Controls &ui = TForm2Controls(Form2);
    // One line under 流量控制, within the width the form has without the port list, each text
    // whole: the dialog grows by that line alone.
    QVERIFY(rs485Row().size() > 1);
    for (const QWidget *w : rs485Row()) {
        const QRect at = w->geometry();
        QVERIFY2(at.top() > ui.FlowControlCombo->geometry().bottom()
                         && qAbs(at.center().y() - ui.Rs485Check->geometry().center().y()) <= 1
                         && at.right() < 640 && w->sizeHint().width() <= at.width(),
                 qPrintable(w->objectName()));
    }
}

void TestPortDialog::rs485RowKept_data()
{
    QTest::addColumn<serial::Rs485Config>("rs485");
    QTest::newRow("off, as at start") << serial::Rs485Config {};
    QTest::newRow("RTS on after sending, longest delay")
            << serial::Rs485Config {true, false, true, 15, serial::Rs485MaxDelayMs};
    QTest::newRow("details kept while off") << serial::Rs485Config {false, false, true, 7, 8};
}

void TestPortDialog::rs485RowKept()
{
    QFETCH(serial::Rs485Config, rs485);
    Edits e;
    e.rs485 = rs485;
    runPortDialog(e);
    QCOMPARE(PortSettings::current().rs485, rs485);
    // Shown so at the next opening, and confirmed again as it is.
    PortSettings::Rs485 = {};
    answerNextModal([](QWidget *w) { TForm2Controls(w).BitBtn1->click(); });
    TForm1Controls(Form1).Rs232ConfigButton->click();
    QCOMPARE(PortSettings::Rs485, rs485);
}

void TestPortDialog::rs485RowFollowsThePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("device");
    QTest::newRow("COM number") << "" << true;
    QTest::newRow("device path") << "/dev/ttyUSB0" << true;
    QTest::newRow("RFC 2217") << "rfc2217://127.0.0.1:2217" << false;
    QTest::newRow("raw TCP, blanks around") << "  tcp://127.0.0.1:4001 " << false;
}

void TestPortDialog::rs485RowFollowsThePath()
{
    QFETCH(QString, path);
    QFETCH(bool, device);
    const TForm2Controls &ui = TForm2Controls(Form2);
    const serial::Rs485Config set {true, false, true, 20, 30};
    fillRs485(ui, set);
    ui.DevicePathEdit->setText(path);
    for (const QWidget *w : rs485Row())
        QVERIFY2(w->isEnabled() == device, qPrintable(w->objectName()));
    // Disabled, the row keeps what it holds for a device named again.
    QCOMPARE(Form2->values().rs485, set);
    ui.DevicePathEdit->clear();
    QVERIFY(ui.Rs485DelayAfterSpin->isEnabled());
}

void TestPortDialog::rs485RefusalTold()
{
    FakeLines lines;
    QVERIFY2(FakeLines::active(), "runs with the fakelines interposer preloaded");
    lines.setRefused(FakeLines::Rs485Altered);
    Pty pty;
    runPortDialog({.devicePath = pty.slavePath(), .rs485 = {true, true, false, 0, 0}});
    MessageRecorder boxes;
    QVERIFY(!openAndClose());
    QCOMPARE(boxes.lastText(),
             pty.slavePath() + QStringLiteral(" 埠,無法寫入參數值\nRS-485:讀回的設定不同"));
    // Nothing is held: a driver that takes it opens the port at once, with RS-485 on.
    lines.setRefused(0);
    QVERIFY(openAndClose());
    QCOMPARE(lines.rs485().flags, uint32_t(SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND));
}

QTEST_MAIN(TestPortDialog)
#include "tst_portdialog.moc"
