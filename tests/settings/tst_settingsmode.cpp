// SPDX-License-Identifier: MIT
// The settings dialog and the help menu while receive mode runs on a pseudo-terminal: the
// dialog suspends the loop, and what it confirms applies from the next byte on.
#include "SettingsTestSupport.h"

#include "Pty.h"

#include "traffic/DisplayFormatter.h"
#include "session/ModeState.h"
#include "main/TrafficView.h"
#include "serial/PortSettings.h"
#include "settings/AboutTexts.h"

using namespace SettingsTest;

Q_DECLARE_METATYPE(SettingsTest::Leave)

namespace {

const QString Nl {QChar(DisplayFormatter::LineBreak)};

QString memoText() { return Form1->memo1()->toPlainText(); }

} // namespace

class TestSettingsMode : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void ruleAppliesFromNextByte_data();
    void ruleAppliesFromNextByte();
    void colourDuringMode();
    void aboutDuringReceive();
};

void TestSettingsMode::ruleAppliesFromNextByte_data()
{
    QTest::addColumn<std::function<void(const TForm6Controls &)>>("change");
    QTest::addColumn<Leave>("how");
    QTest::addColumn<QString>("after"); // what "B\r\n;C" shows once the dialog is left
    using Change = std::function<void(const TForm6Controls &)>;
    const Change toLF = [](const TForm6Controls &ui) { clickOn(ui.LF_Radio); };
    QTest::newRow("LF, OK") << toLF << Leave::Ok << "B<CR><LF>" + Nl + ";C";
    QTest::newRow("LF, Cancel") << toLF << Leave::Cancel << "B<CR>" + Nl + "<LF>;C";
    QTest::newRow("no break, OK") << Change([](const TForm6Controls &ui) { clickOn(ui.NoCR_Radio); })
                                  << Leave::Ok << QStringLiteral("B<CR><LF>;C");
    QTest::newRow("user ';', OK") << Change([](const TForm6Controls &ui) {
        clickOn(ui.UserDefineCRLF_Radio);
        QTest::keyClicks(ui.Edit1, QStringLiteral(";"));
    }) << Leave::Ok << "B<CR><LF>;" + Nl + "C";
}

void TestSettingsMode::ruleAppliesFromNextByte()
{
    QFETCH(std::function<void(const TForm6Controls &)>, change);
    QFETCH(Leave, how);
    QFETCH(QString, after);
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    const QString before = "A<CR>" + Nl;
    ModeScript script;
    script.then([&] { pty.write("A\r"); })
            .waitFor([&] { return memoText() == before; }, "bytes under the CR rule")
            .then([&] {
                runSettings(
                        [&](const TForm6Controls &ui) {
                            change(ui);
                            // Sent while the dialog is up: they wait in the driver and are
                            // shown with whatever the dialog was left with.
                            pty.write("B\r\n;C");
                        },
                        how);
            })
            .waitFor([&] { return memoText() == before + after; }, "bytes after the dialog")
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(),
             qPrintable(script.failure() + ": " + memoText().replace(Nl, "|")));
}

void TestSettingsMode::colourDuringMode()
{
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    Form1->setMemo1Colour(Qt::white);
    const QColor readOnly = Form1->palette().color(QPalette::Button);
    QColor preview;
    ModeScript script;
    script.then([&] {
              runSettings(
                      [&](const TForm6Controls &ui) {
                          preview = panelColour(ui.ShowArea_ColorPanel);
                          pickColour(ui, Qt::magenta);
                      },
                      Leave::Ok);
          })
            .then([&] { QCOMPARE(Form1->memo1Colour(), QColor(Qt::magenta)); })
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
    QVERIFY(script.finished());
    QCOMPARE(preview, readOnly);
    // The end of the mode gives back the colour from before it.
    QCOMPARE(Form1->memo1Colour(), QColor(Qt::white));
}

void TestSettingsMode::aboutDuringReceive()
{
    Pty pty;
    PortSettings::DevicePathText = pty.slavePath();
    const QString about = AboutTexts::aboutLines().join(Nl) + Nl;
    ModeScript script;
    script.then([&] { pty.write("old"); })
            .waitFor([] { return memoText() == QStringLiteral("old"); }, "traffic")
            .then([] { TForm1Controls(Form1).AboutMenubar->trigger(); })
            .then([&] { pty.write("new"); })
            .waitFor([&] { return memoText() == about + "new"; }, "bytes below the text")
            .then([] { TForm1Controls(Form1).BreakButton->click(); });
    script.start();
    TForm1Controls(Form1).ReceiveButton->click();
    QVERIFY2(script.failure().isEmpty(), qPrintable(script.failure()));
}

QTEST_MAIN(TestSettingsMode)
#include "tst_settingsmode.moc"
