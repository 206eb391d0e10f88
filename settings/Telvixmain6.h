// SPDX-License-Identifier: MIT
// The program settings dialog. Its controls are the only store of these settings; when it is
// confirmed the main window takes them over as values: the display settings for the formatter
// and the window options for itself.
#pragma once

#include "traffic/DisplayFormatter.h"
#include "traffic/TrafficRenderer.h"

#include <QColor>
#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class TForm6;
}
class QColorDialog;
class QRadioButton;

class TForm6 : public QDialog
{
    Q_OBJECT

public:
    enum Result { ResultOk = 1, ResultCancel = 2 };

    explicit TForm6(QWidget *parent = nullptr);
    ~TForm6() override;

    // What the controls hold as the formatter's settings, and as the time and framing of the
    // display.
    DisplaySettings displaySettings() const;
    RenderOptions renderOptions() const;

    // What the controls hold for the main window.
    struct WindowOptions
    {
        bool showToolBar = true;
        bool sizable = false;
        QColor displayColour;
        bool showCounters = false;
        int memoryLimitMb = 0; // 0: no limit of the user's own
    };
    WindowOptions windowOptions() const;
    // Reads of one direction less than this apart share a line of the log and the CSV.
    int logJoinGapMs() const;

    // The dialog's state as it was when it opened; Cancel puts it back.
    struct Snapshot
    {
        bool noCR, lf, cr, userDefine;
        QString edit1Text;
        bool edit1Enabled, label2Enabled, button1Enabled;
        bool hexOnly, hexAnsi, ansiHex, formSizable, showQuicklyPanel;
        bool hexText, lineTimestamps, blockTimestamps, idleGap;
        int idleGapMs;
        bool counters;
        bool memoryLimit;
        int memoryLimitMb;
        int logJoinGapMs;
        bool protocolNone, modbusRtu, modbusAscii;
    };
    Snapshot snapshot() const;
    void restore(const Snapshot &s);

    // The preview shows `colour` and tmpPanel keeps it for a Cancel.
    void showColourAtOpening(const QColor &colour);
    QColor previewColour() const;

    QColorDialog *ColorDialog = nullptr;

public slots:
    void reject() override; // Esc and the close box give Cancel
    void Button1Click();
    void MemoColorButtonClick();
    void NoCR_RadioEnter();
    void LF_RadioEnter();
    void CR_RadioEnter();
    void UserDefineCRLF_RadioEnter();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void leaveUserRule();
    void setEdit1Enabled(bool enabled);

    std::unique_ptr<Ui::TForm6> ui;
    // The control that last had the focus here: the focus coming back to it with the window
    // is no entering.
    QWidget *m_activeControl = nullptr;
    Qt::FocusReason m_enteringReason = Qt::OtherFocusReason;
    QColor m_confirmedColour;
};

inline TForm6 *Form6 = nullptr;
