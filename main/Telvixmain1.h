// SPDX-License-Identifier: MIT
// The main window: menus, tool bar, status bar, the traffic display and the mode commands.
#pragma once

#include <QColor>
#include <QMainWindow>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace Ui {
class TForm1;
}
class QAction;
class QFontDialog;
class QKeyEvent;
class QLabel;
class TrafficView;

class TForm1 : public QMainWindow
{
    Q_OBJECT

public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    Ui::TForm1 *form() const { return ui.get(); }
    TrafficView *memo1() const;

    QString statusPanel(int index) const;
    void setStatusPanel(int index, const QString &text);

    // Opens and configures the port named by the settings; the outcome is ModeState::PortReady.
    // Tells the user why when it fails, and then leaves every other state as it was.
    void Initial_RS232_Register();
    // Ends what Initial_RS232_Register began: the read notifier, then the descriptor.
    void closePort();

    // Shows one byte of traffic in Memo1, at the caret, in the display form now chosen.
    void ShowDataToMemo1(uint8_t byte);
    // The same for a run of bytes, inserted as one piece: what a reading mode does per pass.
    void showBytes(const uint8_t *bytes, size_t count);

    // The colour Memo1 shows while no mode runs (the settings dialog may change it).
    QColor memo1Colour() const;
    void setMemo1Colour(const QColor &colour);

    QFontDialog *FontDialog1 = nullptr;
    class QFileDialog *OpenDialog1 = nullptr; // made by the file send when first needed

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

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void FormCloseQuery(bool &canClose);
    void connectHandlers();
    void portFailed(const QString &suffix, const QString &detail = {});
    void setUpTerminalPanels();
    // Enter in the message box sends; the CR never reaches the box.
    bool Memo2KeyPress(QKeyEvent *event);
    QString terminalPrefix(const QString &name) const;

    bool m_sending = false; // a terminal send is under way

    std::unique_ptr<Ui::TForm1> ui;
    QLabel *panels[3] = {};
};

inline TForm1 *Form1 = nullptr;
