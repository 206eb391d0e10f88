// SPDX-License-Identifier: MIT
// The one table of what each mode switches off, checked against the control lists each mode
// is documented to switch, and the per-mode texts and flags.
#include "session/ModeState.h"
#include "session/ModeTable.h"

#include <QTest>

#include <algorithm>
#include <set>
#include <string>

class TestModeTable : public QObject
{
    Q_OBJECT

private slots:
    void columnsMatchEachModesOwnList_data();
    void columnsMatchEachModesOwnList();
    void everyControlAppearsOnce();
    void columnFacts();
    void resetClearsEverything();
    void nestedHoldsKeepTheFlag();
};

using Names = std::set<std::string>;
Q_DECLARE_METATYPE(Names)

void TestModeTable::columnsMatchEachModesOwnList_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<Names>("expected");
    // Each list is the one its mode gives at its own start, written out independently of the
    // table so that a slip in either shows.
    QTest::newRow("receive") << int(Mode::Receive)
                             << Names {"R2KModeMenubar",          "R2KModeButton",
                                       "EnableTRModeButton",      "Rs232ConfigButton",
                                       "RS232ConfigMenuBar",      "StartRecMenuBar",
                                       "SendModeMenubar",         "Send_FileContentButton",
                                       "Send_FileContentMenuBar", "Send_UserStringButton",
                                       "Send_UserStringMenuBar",  "ReceiveButton",
                                       "TRModeMenubar",           "ScriptRunButton",
                                       "MonitorModeMenuBar",      "PassThroughModeMenuBar"};
    QTest::newRow("file send") << int(Mode::FileSend)
                               << Names {"Rs232ConfigButton",       "RS232ConfigMenuBar",
                                         "StartRecMenuBar",         "Send_FileContentButton",
                                         "Send_FileContentMenuBar", "Send_UserStringButton",
                                         "Send_UserStringMenuBar",  "ReceiveButton",
                                         "EnableTRModeButton",      "EnableTRModeMenubar",
                                         "R2KModeMenubar",          "R2KModeButton",
                                         "ScriptRunButton",         "MonitorModeMenuBar",
                                         "PassThroughModeMenuBar"};
    QTest::newRow("terminal") << int(Mode::Terminal)
                              << Names {"SendModeMenubar",        "ReceiveModeMenubar",
                                        "ReceiveButton",          "Rs232ConfigButton",
                                        "RS232ConfigMenuBar",     "StartRecMenuBar",
                                        "Send_FileContentButton", "Send_FileContentMenuBar",
                                        "Send_UserStringButton",  "Send_UserStringMenuBar",
                                        "EnableTRModeMenubar",    "EnableTRModeButton",
                                        "R2KModeMenubar",         "R2KModeButton",
                                        "ScriptRunButton",        "MonitorModeMenuBar",
                                        "PassThroughModeMenuBar"};
    QTest::newRow("r2k")
            << int(Mode::R2K)
            << Names {"ClearDataButton",        "SettingsMenuBar",        "DataModeButton",
                      "DataModeMenubar",        "FontsMenubar",           "RS232ConfigMenuBar",
                      "Rs232ConfigButton",      "ReceiveModeMenubar",     "ReceiveButton",
                      "SendModeMenubar",        "StartRecMenuBar",        "Send_FileContentMenuBar",
                      "Send_FileContentButton", "Send_UserStringMenuBar", "Send_UserStringButton",
                      "TRModeMenubar",          "EnableTRModeMenubar",    "EnableTRModeButton",
                      "EnableR2KModeMenubar",   "R2KModeButton",          "ScriptRunButton",
                      "MonitorModeMenuBar",     "PassThroughModeMenuBar"};
    // The modes that came later leave the display's own commands and switch every other
    // start off: a script talks to the line itself, the monitor and the pass-through only watch.
    const Names later {
            "SendModeMenubar",        "ReceiveModeMenubar",      "ReceiveButton",
            "Rs232ConfigButton",      "RS232ConfigMenuBar",      "StartRecMenuBar",
            "Send_FileContentButton", "Send_FileContentMenuBar", "Send_UserStringButton",
            "Send_UserStringMenuBar", "TRModeMenubar",           "EnableTRModeMenubar",
            "EnableTRModeButton",     "R2KModeMenubar",          "R2KModeButton",
            "ScriptRunButton",        "MonitorModeMenuBar",      "PassThroughModeMenuBar"};
    QTest::newRow("script") << int(Mode::Script) << later;
    QTest::newRow("monitor") << int(Mode::Monitor) << later;
    QTest::newRow("pass-through") << int(Mode::PassThrough) << later;
}

void TestModeTable::columnsMatchEachModesOwnList()
{
    QFETCH(int, mode);
    QFETCH(Names, expected);
    Names actual;
    for (std::string_view n : ModeTable::controlsOff(Mode(mode)))
        QVERIFY2(actual.insert(std::string(n)).second, "a control listed twice");
    QCOMPARE(actual, expected);
}

void TestModeTable::everyControlAppearsOnce()
{
    Names seen;
    for (const ModeControlRow &row : ModeTable::rows()) {
        for (std::string_view n : row.controls) {
            if (!n.empty())
                QVERIFY2(seen.insert(std::string(n)).second, std::string(n).c_str());
        }
    }
    for (std::string_view n : ModeTable::BreakControls)
        QVERIFY(!seen.count(std::string(n)));
}

void TestModeTable::columnFacts()
{
    QCOMPARE(ModeTable::column(Mode::Receive).activeFlag, &ModeState::ReceiveModeActive);
    QCOMPARE(ModeTable::column(Mode::FileSend).activeFlag, &ModeState::SendActive);
    QCOMPARE(ModeTable::column(Mode::Terminal).activeFlag, &ModeState::TRModeActive);
    QCOMPARE(ModeTable::column(Mode::R2K).activeFlag, &ModeState::R2KModeActive);
    QCOMPARE(ModeTable::column(Mode::Script).activeFlag, &ModeState::ScriptModeActive);
    QCOMPARE(ModeTable::column(Mode::Monitor).activeFlag, &ModeState::MonitorModeActive);
    QCOMPARE(ModeTable::column(Mode::PassThrough).activeFlag, &ModeState::PassThroughModeActive);
    for (int m = 0; m < ModeCount; ++m)
        QCOMPARE(int(ModeTable::column(Mode(m)).mode), m);
    // Only R2K clears the display again at its end; the file send leaves the display alone.
    QVERIFY(ModeTable::column(Mode::R2K).clearMemoAtEnd);
    QVERIFY(!ModeTable::column(Mode::FileSend).clearMemoAtStart);
    QVERIFY(!ModeTable::column(Mode::FileSend).readOnlyLook);
    QVERIFY(ModeTable::column(Mode::Terminal).showTerminalPanels);
    QCOMPARE(QString::fromUtf8(ModeTable::column(Mode::R2K).startText),
             QStringLiteral("R2K模式(已啟動執行) ....."));
}

void TestModeTable::resetClearsEverything()
{
    ModeState::BreakRequested = ModeState::ReceiveModeActive = 1;
    ModeState::SendActive = ModeState::TRModeActive = ModeState::R2KModeActive = 1;
    ModeState::ScriptModeActive = ModeState::MonitorModeActive = 1;
    ModeState::PassThroughModeActive = 1;
    ModeState::reset();
    for (uint8_t flag : {ModeState::BreakRequested, ModeState::ReceiveModeActive,
                         ModeState::SendActive, ModeState::TRModeActive, ModeState::R2KModeActive,
                         ModeState::ScriptModeActive, ModeState::MonitorModeActive,
                         ModeState::PassThroughModeActive})
        QCOMPARE(flag, uint8_t(0));
    QVERIFY(!ModeState::anyActive());
    // Each flag alone is a running mode, to the window's close query among others.
    for (uint8_t *flag : {&ModeState::ReceiveModeActive, &ModeState::SendActive,
                          &ModeState::TRModeActive, &ModeState::R2KModeActive,
                          &ModeState::ScriptModeActive, &ModeState::MonitorModeActive,
                          &ModeState::PassThroughModeActive}) {
        *flag = 1;
        QVERIFY(ModeState::anyActive());
        *flag = 0;
    }
}

void TestModeTable::nestedHoldsKeepTheFlag()
{
    // A file send started from inside a string send: SendActive stays set for the outer one
    // when the inner one ends, and goes only with the last.
    ModeState::reset();
    {
        ModeState::Hold outer(ModeState::SendActive);
        QCOMPARE(ModeState::SendActive, uint8_t(1));
        {
            ModeState::Hold inner(ModeState::SendActive);
            QCOMPARE(ModeState::SendActive, uint8_t(1));
        }
        QCOMPARE(ModeState::SendActive, uint8_t(1));
        // Other flags count on their own.
        ModeState::Hold receive(ModeState::ReceiveModeActive);
        receive.release();
        QCOMPARE(ModeState::ReceiveModeActive, uint8_t(0));
        QCOMPARE(ModeState::SendActive, uint8_t(1));
        outer.release();
        QCOMPARE(ModeState::SendActive, uint8_t(0));
    }
    QCOMPARE(ModeState::SendActive, uint8_t(0));
}

QTEST_APPLESS_MAIN(TestModeTable)
#include "tst_modetable.moc"
