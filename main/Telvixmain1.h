// SPDX-License-Identifier: MIT
// The main window: menus, tool bar, status bar and the traffic display, the commands that are
// no modes, and the host the modes run in. Each mode is a unit of its own (ReceiveSession,
// FileSendJob, StringSendJob, TerminalSession, R2KSession, ScriptSession) that the menu command
// starts and that reaches the window only through ModeHost.
#pragma once

#include "main/MemoryWatch.h"
#include "session/ModeHost.h"
#include "traffic/CaptureExport.h"
#include "traffic/DisplayFormatter.h"
#include "traffic/Traffic.h"
#include "traffic/TrafficCapture.h"
#include "traffic/TrafficRenderer.h"

#include <QColor>
#include <QMainWindow>

#include <memory>
#include <optional>

namespace Ui {
class TForm1;
}
class ElidedLabel;
class QAction;
class QFileDialog;
class QFontDialog;
class QKeyEvent;
class QLabel;
class QTimer;
class FindBar;
class InputHistory;
class CommandPanel;
class ScriptWindow;
class LinePanel;
class LiveLog;
class MonitorDialog;
class TerminalPanel;
class TerminalSession;
class TrafficView;

class TForm1 : public QMainWindow, public ModeHost
{
    Q_OBJECT

public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    TrafficView *memo1() const;

    QString statusPanel(int index) const;
    void setStatusPanel(int index, const QString &text);

    // Opens and configures the port named by the settings, with every mode's start. Tells the
    // user why when it fails, and gives back no port.
    std::unique_ptr<SerialPort> Initial_RS232_Register();

    // The colour Memo1 shows while no mode runs (the settings dialog may change it).
    QColor memo1Colour() const;
    void setMemo1Colour(const QColor &colour);

    // ModeHost
    std::unique_ptr<SerialPort> openPort() override;
    std::unique_ptr<SerialPort> openListeningPort(const PortSettings::PortChoice &choice) override;
    void enterMode(Mode mode) override;
    void leaveMode(Mode mode) override;
    void setStatusText(const QString &text) override { setStatusPanel(2, text); }
    void showPublishedName(const QString &name, const QString &note) override;
    DisplaySink &display() override;
    TrafficRenderer &renderer() override { return m_renderer; }
    TrafficStream &traffic() override { return m_traffic; }
    void message(const QString &text) override;
    void errorBox(const QString &text) override;
    int displayFrameMs() const override;
    bool showsSentCommands() const override;

    // The display's passes while a line runs: about one a frame of a 60 Hz screen, and a few a
    // second while nobody can see them.
    static constexpr int FrameMs = 16;
    static constexpr int HiddenFrameMs = 200;

    DisplayFormatter &formatter() { return m_formatter; }
    // What crossed the line in the current or last mode.
    const TrafficCapture &capture() const { return m_capture; }
    // The live log while one runs.
    LiveLog *liveLog() const { return m_log.get(); }
    LinePanel *linePanel() const { return m_linePanel; }
    CommandPanel *commandPanel() const { return m_commandPanel; }
    ScriptWindow *scriptWindow() const { return m_scriptWindow; }
    // Made when the monitor is first asked for.
    MonitorDialog *monitorDialog();
    // Takes a reading of memory (the machine's and our own) and shows a shortage that has just
    // begun in a panel of its own; the window takes one every MemoryCheckMs by itself.
    void checkMemory(const MemoryReading &reading);
    static constexpr int MemoryCheckMs = 2000;

    QFontDialog *FontDialog1 = nullptr;
    QFileDialog *OpenDialog1 = nullptr; // made by the file send when first needed
    QFileDialog *SaveDialog1 = nullptr; // while the log commands ask where

public slots:
    void RS232ConfigMenuBarClick();
    void Rs232ConfigButtonClick();
    void ClearDataMenubarClick();
    void ClearDataButtonClick();
    void FontsMenubarClick();
    void ASCIIModeMenuBarClick();
    void HexModeMenuBarClick();
    void DataModeButtonClick();
    void BreakMenuBarClick();
    void BreakButtonClick();
    void MiscMenuBarClick();
    void StartRecMenuBarClick();
    void ReceiveButtonClick();
    void Send_FileContentMenuBarClick();
    void Send_FileContentButtonClick();
    void Send_UserStringMenuBarClick();
    void Send_UserStringButtonClick();
    void EnableTRModeMenubarClick();
    void EnableTRModeButtonClick();
    void EnableR2KModeMenubarClick();
    void R2KModeButtonClick();
    void SendEchoMessageButtonClick();
    void EchoEditControlInsertButtonClick();
    void MessageFontColorButtonClick();
    void AboutMenubarClick();
    void VersionMenubarClick();
    void SaveLogMenuBarClick();
    void StartLogMenuBarClick();
    void StopLogMenuBarClick();
    void LinePanelMenuBarClick();
    void CommandPanelMenuBarClick();
    void SelfTestMenuBarClick();
    void ScriptModeMenuBarClick();
    void MonitorModeMenuBarClick();
    void PassThroughModeMenuBarClick();
    // 執行 in the script window: the script in script mode, to its end.
    void ScriptRunClick();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void FormCloseQuery(bool &canClose);
    void connectHandlers();
    void setUpTerminalPanels();
    void portFailed(const QString &name, const QString &suffix, const QString &detail = {});
    // Opens a port as every mode's start does; `settings`: the settings' own (it may ask when
    // its number names another device now).
    std::unique_ptr<SerialPort> openChoice(const PortSettings::PortChoice &choice, bool settings);
    void setColumnEnabled(Mode mode, bool enabled);
    void setBreakEnabled(bool enabled);
    void showLines(const QStringList &lines);
    // Enter in the message box sends; the CR never reaches the box. Up and Down on its edge
    // lines recall the messages sent before.
    bool Memo2KeyPress(QKeyEvent *event);
    // The save dialog with the formats to choose from; where to write and how, or nothing when
    // it was cancelled.
    std::optional<CaptureExport::Target> askLogTarget(const QString &title,
                                                      const QList<CaptureExport::Format> &formats);
    void liveLogFailed(const QString &message);
    void updateTrafficPanel();

    std::unique_ptr<Ui::TForm1> ui;
    ElidedLabel *panels[3] = {};
    DisplayFormatter m_formatter;
    TrafficRenderer m_renderer {m_formatter};
    TrafficStream m_traffic;
    TrafficCapture m_capture;
    std::unique_ptr<LiveLog> m_log;
    LinePanel *m_linePanel = nullptr; // under the tool bar, hidden at start
    CommandPanel *m_commandPanel = nullptr; // at the foot, hidden at start
    ScriptWindow *m_scriptWindow = nullptr; // a window of its own, hidden at start
    MonitorDialog *m_monitorDialog = nullptr;
    QWidget *m_publishedPanel = nullptr; // the pass-through's name, while it runs
    ElidedLabel *m_publishedName = nullptr;
    QString m_passThroughName; // the last one asked for
    SerialPort *m_modePort = nullptr; // the running mode's, from its start to its end
    FindBar *m_findBar = nullptr; // under the display, hidden at start
    ElidedLabel *m_trafficPanel = nullptr; // counters and the live log, right of panel 2
    QTimer *m_trafficTimer = nullptr;
    MemoryWatch m_memoryWatch;
    ElidedLabel *m_memoryPanel = nullptr; // shown while memory is short
    QTimer *m_memoryTimer = nullptr;
    bool m_showCounters = false;
    std::unique_ptr<TerminalPanel> m_terminalPanel;
    TerminalSession *m_terminal = nullptr; // while terminal mode runs
    std::unique_ptr<InputHistory> m_messageHistory; // Memo2's, for the whole run
    QColor m_savedColour; // Memo1's colour from before the running mode
    QString m_logFolder; // where the log commands' dialog was last confirmed
};

inline TForm1 *Form1 = nullptr;
