// SPDX-License-Identifier: MIT
#include "Telvixmain1.h"

#include "ui_Telvixmain1.h"

#include "main/FontChoice.h"
#include "main/Fonts.h"
#include "main/MessageBoxes.h"
#include "main/ModeState.h"
#include "main/ModeTable.h"
#include "serial/PortSettings.h"
#include "serial/Telvixmain2.h"

#include <QCloseEvent>
#include <QFontDialog>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>

static void loadResources()
{
    // The glyphs live in a static library, whose resources are not registered on their own.
    static const bool loaded = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(loaded);
}

TForm1::TForm1(QWidget *parent) : QMainWindow(parent), ui(std::make_unique<Ui::TForm1>())
{
    loadResources();
    ui->setupUi(this);
    setFont(Fonts::ming());
    ui->Memo1->setFont(Fonts::mingFixed());
    ui->Memo2->setFont(Fonts::terminal(16));
    for (QToolButton *button : ui->Panel1->findChildren<QToolButton *>())
        button->setFont(Fonts::mingFixed());

    static const int PanelWidths[3] = {200, 150, 250};
    static const char *PanelTexts[3] = {"", "ASCII 模式", ModeTable::IdleText};
    for (int i = 0; i < 3; ++i) {
        panels[i] = new QLabel(QString::fromUtf8(PanelTexts[i]), ui->StatusBar1);
        panels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panels[i]->setAlignment(Qt::AlignCenter);
        panels[i]->setFrameShape(QFrame::Panel);
        panels[i]->setFrameShadow(QFrame::Sunken);
        // The last panel takes what is left of the bar's width, so that it ends at the window's
        // edge instead of running past it.
        if (i < 2)
            panels[i]->setFixedWidth(PanelWidths[i]);
        else
            panels[i]->setMinimumWidth(PanelWidths[i] / 2);
        ui->StatusBar1->addWidget(panels[i], i < 2 ? 0 : 1);
    }
    // As much room right of the last panel as left of the first, so that its border shows.
    ui->StatusBar1->setContentsMargins(0, 0, 2, 0);
    panels[0]->setText(PortSettings::summaryText());

    FontDialog1 = new QFontDialog(this);
    FontDialog1->setObjectName(QStringLiteral("FontDialog1"));

    // The client area is fixed until the settings dialog makes the window sizable; the menu
    // bar sits inside a Qt window, so it adds to the height.
    setFixedSize(593, 412 + ui->MainMenu1->sizeHint().height());
    if (const QScreen *s = screen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
    connectHandlers();
    setUpTerminalPanels();
    FormCreate();
}

TForm1::~TForm1() { closePort(); }

void TForm1::connectHandlers()
{
    const auto onClick = [this](QToolButton *button, void (TForm1::*handler)()) {
        connect(button, &QToolButton::clicked, this, handler);
    };
    const auto onTrigger = [this](QAction *action, void (TForm1::*handler)()) {
        connect(action, &QAction::triggered, this, handler);
    };
    onClick(ui->Rs232ConfigButton, &TForm1::Rs232ConfigButtonClick);
    onClick(ui->ClearDataButton, &TForm1::ClearDataButtonClick);
    onClick(ui->DataModeButton, &TForm1::DataModeButtonClick);
    onClick(ui->ReceiveButton, &TForm1::ReceiveButtonClick);
    onClick(ui->Send_FileContentButton, &TForm1::Send_FileContentButtonClick);
    onClick(ui->Send_UserStringButton, &TForm1::Send_UserStringButtonClick);
    onClick(ui->EnableTRModeButton, &TForm1::EnableTRModeButtonClick);
    onClick(ui->R2KModeButton, &TForm1::R2KModeButtonClick);
    onClick(ui->BreakButton, &TForm1::BreakButtonClick);
    onTrigger(ui->RS232ConfigMenuBar, &TForm1::RS232ConfigMenuBarClick);
    onTrigger(ui->MiscMenuBar, &TForm1::MiscMenuBarClick);
    onTrigger(ui->ClearDataMenubar, &TForm1::ClearDataMenubarClick);
    onTrigger(ui->ASCIIModeMenuBar, &TForm1::ASCIIModeMenuBarClick);
    onTrigger(ui->HexModeMenuBar, &TForm1::HexModeMenuBarClick);
    onTrigger(ui->FontsMenubar, &TForm1::FontsMenubarClick);
    onTrigger(ui->Send_FileContentMenuBar, &TForm1::Send_FileContentMenuBarClick);
    onTrigger(ui->Send_UserStringMenuBar, &TForm1::Send_UserStringMenuBarClick);
    onTrigger(ui->StartRecMenuBar, &TForm1::StartRecMenuBarClick);
    onTrigger(ui->EnableTRModeMenubar, &TForm1::EnableTRModeMenubarClick);
    onTrigger(ui->EnableR2KModeMenubar, &TForm1::EnableR2KModeMenubarClick);
    onTrigger(ui->BreakMenuBar, &TForm1::BreakMenuBarClick);
    onTrigger(ui->AboutMenubar, &TForm1::AboutMenubarClick);
    onTrigger(ui->VersionMenubar, &TForm1::VersionMenubarClick);
}

void TForm1::FormCreate()
{
    ui->ASCIIModeMenuBar->setChecked(true);
    ui->HexModeMenuBar->setChecked(false);
    ui->Memo1->clear();
}

TrafficView *TForm1::memo1() const { return ui->Memo1; }

QString TForm1::statusPanel(int index) const { return panels[index]->text(); }

void TForm1::setStatusPanel(int index, const QString &text) { panels[index]->setText(text); }

QColor TForm1::memo1Colour() const { return ui->Memo1->palette().color(QPalette::Base); }

void TForm1::setMemo1Colour(const QColor &colour)
{
    QPalette p = ui->Memo1->palette();
    p.setColor(QPalette::Base, colour);
    ui->Memo1->setPalette(p);
}

// ---- small commands --------------------------------------------------------------------

void TForm1::BreakMenuBarClick()
{
    ModeState::BreakRequested = 1;
    ui->Memo1->setFocus();
}

void TForm1::BreakButtonClick() { BreakMenuBarClick(); }

void TForm1::ClearDataMenubarClick()
{
    // In terminal mode the next byte then opens a new, labelled reply.
    if (ModeState::TRModeActive == 1)
        ModeState::RemotePrefixWritten = 0;
    ui->Memo1->clear();
    ui->Memo1->setFocus();
}

void TForm1::ClearDataButtonClick() { ClearDataMenubarClick(); }

void TForm1::FontsMenubarClick()
{
    const FontChoice::Choice choice = FontChoice::choose(FontDialog1, ui->Memo1->font());
    if (choice.accepted) {
        if (choice.font)
            ui->Memo1->setFont(*choice.font);
        ui->Memo1->setFocus();
    }
}

void TForm1::ASCIIModeMenuBarClick()
{
    ui->ASCIIModeMenuBar->setChecked(true);
    ui->HexModeMenuBar->setChecked(false);
    setStatusPanel(1, QStringLiteral("ASCII 模式"));
    ModeState::HexDisplayMode = 0;
    ui->Memo1->setFocus();
    ui->Memo1->clear();
}

void TForm1::HexModeMenuBarClick()
{
    ui->ASCIIModeMenuBar->setChecked(false);
    ui->HexModeMenuBar->setChecked(true);
    setStatusPanel(1, QStringLiteral("HEX 模式"));
    ModeState::HexDisplayMode = 1;
    ui->Memo1->setFocus();
    ui->Memo1->clear();
}

void TForm1::DataModeButtonClick()
{
    ui->Memo1->clear();
    if (ModeState::HexDisplayMode == 0)
        HexModeMenuBarClick();
    else
        ASCIIModeMenuBarClick();
    ui->Memo1->setFocus();
}

void TForm1::FormCloseQuery(bool &canClose)
{
    canClose = !(ModeState::TRModeActive == 1 || ModeState::SendActive == 1
                 || ModeState::ReceiveModeActive == 1 || ModeState::R2KModeActive == 1);
    if (!canClose)
        MessageBoxes::message(this, QStringLiteral("還在連線中唷...請先中斷連線"));
}

void TForm1::closeEvent(QCloseEvent *event)
{
    bool canClose = true;
    FormCloseQuery(canClose);
    if (canClose)
        event->accept();
    else
        event->ignore();
}

// ---- port settings ---------------------------------------------------------------------

void TForm1::RS232ConfigMenuBarClick()
{
    if (Form2->exec() == TForm2::ResultOk) {
        if (std::optional<QString> error = PortSettings::apply(Form2->values())) {
            MessageBoxes::errorBox(this, *error);
            return;
        }
        setStatusPanel(0, PortSettings::summaryText());
    }
    ui->Memo1->setFocus();
}

void TForm1::Rs232ConfigButtonClick() { RS232ConfigMenuBarClick(); }

// ---- tool buttons that only forward to their menu command ------------------------------

void TForm1::ReceiveButtonClick() { StartRecMenuBarClick(); }

void TForm1::Send_FileContentButtonClick() { Send_FileContentMenuBarClick(); }

void TForm1::Send_UserStringButtonClick() { Send_UserStringMenuBarClick(); }

void TForm1::EnableTRModeButtonClick() { EnableTRModeMenubarClick(); }

void TForm1::R2KModeButtonClick() { EnableR2KModeMenubarClick(); }

// ---- commands still to come ------------------------------------------------------------
