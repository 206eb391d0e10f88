// SPDX-License-Identifier: MIT
// Enter and Space in the dialogs, as a keyboard user presses them: a focused push button takes
// both; the default button takes Enter only while no button has the focus.
#include "GuiHelpers.h"

#include "main/Telvixmain1.h"
#include "send/Telvixmain3.h"
#include "send/Telvixmain4.h"
#include "send/Telvixmain5.h"
#include "serial/PortSettings.h"
#include "serial/Telvixmain2.h"
#include "settings/Telvixmain6.h"
#include "TForm1Controls.h"
#include "TForm2Controls.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

QDialog *dialogNamed(const QString &name)
{
    if (name == u"TForm2")
        return Form2;
    if (name == u"TForm3")
        return Form3;
    if (name == u"TForm4")
        return Form4;
    if (name == u"TForm5")
        return Form5;
    return Form6;
}

// Closes every modal dialog that comes up over `outer` (the picker, the colour dialog) for as
// long as it lives.
class NestedCloser
{
public:
    explicit NestedCloser(QWidget *outer)
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [outer] {
            QWidget *modal = QApplication::activeModalWidget();
            if (modal && modal != outer && modal->isVisible()) {
                if (auto *d = qobject_cast<QDialog *>(modal))
                    d->reject();
                else
                    modal->close();
            }
        });
        m_timer.start();
    }

private:
    QTimer m_timer;
};

// Shows `dialog` modally, puts the focus on `focus` and presses `key` there; a dialog the key
// left open is cancelled afterwards. Returns the dialog's result.
int pressIn(QDialog *dialog, QWidget *focus, Qt::Key key)
{
    QTimer::singleShot(0, [dialog, focus, key] {
        if (!waitUntil([dialog] { return dialog->isVisible(); }))
            return;
        focus->setFocus(Qt::TabFocusReason);
        QTest::keyClick(focus, key);
        if (dialog->isVisible())
            dialog->reject();
    });
    return dialog->exec();
}

} // namespace

class TestDialogKeys : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void focusedButtonTakesTheKey_data();
    void focusedButtonTakesTheKey();
    void enterOutsideButtonsIsTheDefault_data();
    void enterOutsideButtonsIsTheDefault();
    void enterOnCancelKeepsThePort();
};

void TestDialogKeys::focusedButtonTakesTheKey_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("button");
    // What the dialog gives. A button that opens another dialog leaves its own open; the test
    // cancels it then, so its result is the cancel code.
    QTest::addColumn<int>("result");
    const struct
    {
        const char *dialog;
        const char *button;
        int result;
    } rows[] = {
            {"TForm2", "BitBtn1", TForm2::ResultOk},
            {"TForm2", "BitBtn2", TForm2::ResultCancel},
            {"TForm3", "SendButton", TForm3::ResultSend},
            {"TForm3", "CancelButton", TForm3::ResultCancel},
            {"TForm3", "InsertCtrlCodeButton", TForm3::ResultCancel},
            {"TForm4", "BitBtn1", TForm4::ResultSend},
            {"TForm4", "BitBtn2", TForm4::ResultLeave},
            {"TForm4", "BitBtn3", TForm4::ResultLeave},
            {"TForm5", "BitBtn1", TForm5::ResultInsert},
            {"TForm5", "BitBtn2", TForm5::ResultCancel},
            {"TForm6", "BitBtn1", TForm6::ResultOk},
            {"TForm6", "BitBtn2", TForm6::ResultCancel},
            {"TForm6", "MemoColorButton", TForm6::ResultCancel},
    };
    for (const auto &r : rows) {
        for (const char *key : {"Enter", "Space"})
            QTest::newRow(qPrintable(QStringLiteral("%1 %2 %3").arg(r.dialog, r.button, key)))
                    << r.dialog << r.button << r.result;
    }
}

void TestDialogKeys::focusedButtonTakesTheKey()
{
    QFETCH(QString, dialog);
    QFETCH(QString, button);
    QDialog *d = dialogNamed(dialog);
    auto *b = d->findChild<QPushButton *>(button);
    QVERIFY(b);
    const Qt::Key key = QByteArray(QTest::currentDataTag()).endsWith("Space") ? Qt::Key_Space
                                                                               : Qt::Key_Return;
    QSignalSpy clicked(b, &QAbstractButton::clicked);
    NestedCloser closer(d);
    QTEST(pressIn(d, b, key), "result");
    QCOMPARE(clicked.count(), 1);
}

void TestDialogKeys::enterOutsideButtonsIsTheDefault_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("result");
    QTest::newRow("port number") << "TForm2" << "ComPortEdit" << int(TForm2::ResultOk);
    QTest::newRow("baud rate") << "TForm2" << "BaudRateEdit" << int(TForm2::ResultOk);
    QTest::newRow("file delay") << "TForm3" << "IntercharDelayEdit" << int(TForm3::ResultSend);
    QTest::newRow("string") << "TForm4" << "Edit1" << int(TForm4::ResultSend);
}

void TestDialogKeys::enterOutsideButtonsIsTheDefault()
{
    QFETCH(QString, dialog);
    QFETCH(QString, box);
    QDialog *d = dialogNamed(dialog);
    auto *edit = d->findChild<QLineEdit *>(box);
    QVERIFY(edit);
    QTEST(pressIn(d, edit, Qt::Key_Return), "result");
}

void TestDialogKeys::enterOnCancelKeepsThePort()
{
    // Tab to 取消 and Enter: the settings stay as they were.
    const TForm2Controls &ui = TForm2Controls(Form2);
    QTimer::singleShot(0, [&ui] {
        if (!waitUntil([] { return Form2->isVisible(); }))
            return;
        ui.ComPortEdit->setText(QStringLiteral("7"));
        ui.BaudRateEdit->setText(QStringLiteral("115200"));
        ui.BitBtn2->setFocus(Qt::TabFocusReason);
        QTest::keyClick(ui.BitBtn2, Qt::Key_Return);
    });
    TForm1Controls(Form1).Rs232ConfigButton->click();
    QCOMPARE(PortSettings::summaryText(), QStringLiteral("COM1 = 9600 , N , 8 , 1"));
    QCOMPARE(Form1->statusPanel(0), QStringLiteral("COM1 = 9600 , N , 8 , 1"));
}

QTEST_MAIN(TestDialogKeys)
#include "tst_dialogkeys.moc"
