// SPDX-License-Identifier: MIT
#include "Telvixmain6.h"

#include "ui_Telvixmain6.h"

#include "send/CodeInsertion.h"
#include "send/SendText.h"
#include "settings/OuterSize.h"
#include "widgets/Fonts.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFocusEvent>

namespace {

const QColor Gray {0x80, 0x80, 0x80};
const QColor Maroon {0x80, 0x00, 0x00};
// The documented 475 x 322 with the groups of time and framing and of memory below.
const QSize OuterDialogSize {475, 543};

// The system's colour for the inside of a text box, the one Memo1 starts with.
QColor windowColour() { return QApplication::palette().color(QPalette::Active, QPalette::Base); }

void setColour(QWidget *widget, QPalette::ColorRole role, const QColor &colour)
{
    QPalette p = widget->palette();
    p.setColor(role, colour);
    widget->setPalette(p);
}

// The panels hold their colour as their background.
QColor panelColour(const QWidget *panel) { return panel->palette().color(QPalette::Window); }
void setPanelColour(QWidget *panel, const QColor &colour)
{
    setColour(panel, QPalette::Window, colour);
}

} // namespace

TForm6::TForm6(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TForm6>())
{
    ui->setupUi(this);
    setFont(Fonts::ming());
    OuterSize::setFixed(this, OuterDialogSize);
    ui->Edit1->setFont(Fonts::terminal(19));
    setEdit1Enabled(false);
    // Maroon while enabled; disabled it greys out like any other label.
    QPalette notePalette = ui->Label2->palette();
    notePalette.setColor(QPalette::Active, QPalette::WindowText, Maroon);
    notePalette.setColor(QPalette::Inactive, QPalette::WindowText, Maroon);
    ui->Label2->setPalette(notePalette);
    setPanelColour(ui->ShowArea_ColorPanel, windowColour());
    setPanelColour(ui->tmpPanel, windowColour());

    ColorDialog = new QColorDialog(this);
    ColorDialog->setObjectName(QStringLiteral("ColorDialog"));
    m_confirmedColour = ColorDialog->currentColor();

    connect(ui->BitBtn1, &QPushButton::clicked, this, [this] { done(ResultOk); });
    connect(ui->BitBtn2, &QPushButton::clicked, this, [this] { done(ResultCancel); });
    connect(ui->Button1, &QPushButton::clicked, this, &TForm6::Button1Click);
    connect(ui->MemoColorButton, &QPushButton::clicked, this, &TForm6::MemoColorButtonClick);
    // The gap is asked for only while the break at a gap is on.
    ui->IdleGapEdit->setEnabled(false);
    connect(ui->IdleGap_CheckBox, &QCheckBox::toggled, ui->IdleGapEdit, &QWidget::setEnabled);
    ui->MemoryLimitEdit->setEnabled(false);
    connect(ui->MemoryLimit_CheckBox, &QCheckBox::toggled, ui->MemoryLimitEdit,
            &QWidget::setEnabled);

    // Qt has no "entered" signal: a focus-in that moves the focus here from another control of
    // this dialog is the entering; the focus coming back with the window is not.
    for (QRadioButton *rule :
         {ui->NoCR_Radio, ui->LF_Radio, ui->CR_Radio, ui->UserDefineCRLF_Radio})
        rule->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (now && isAncestorOf(now))
            m_activeControl = now;
    });
}

TForm6::~TForm6() = default;

void TForm6::reject() { done(ResultCancel); }

void TForm6::showEvent(QShowEvent *event)
{
    // The frame is known once the window has been framed; from then on it is part of the size.
    OuterSize::setFixed(this, OuterDialogSize);
    QDialog::showEvent(event);
}

DisplaySettings TForm6::displaySettings() const
{
    DisplaySettings s;
    if (ui->NoCR_Radio->isChecked())
        s.lineBreakRule = LineBreakRule::NoCR;
    else if (ui->LF_Radio->isChecked())
        s.lineBreakRule = LineBreakRule::LF;
    else if (ui->UserDefineCRLF_Radio->isChecked())
        s.lineBreakRule = LineBreakRule::UserDefineCRLF;
    else
        s.lineBreakRule = LineBreakRule::CR;
    // The box holds a control code as its glyph and other text as typed: its bytes are what
    // the line would carry, and the first of them is the break character. A character with no
    // Big5 form gives no byte, like an empty box.
    const SendText::Bytes bytes = SendText::toBytes(ui->Edit1->text());
    if (bytes.bytes && !bytes.bytes->isEmpty())
        s.userBreakByte = uint8_t(bytes.bytes->at(0));
    if (ui->HexAnsi_Radio->isChecked())
        s.hexStyle = HexStyle::HexAnsi;
    else if (ui->AnsiHex_Radio->isChecked())
        s.hexStyle = HexStyle::AnsiHex;
    else if (ui->HexText_Radio->isChecked())
        s.hexStyle = HexStyle::HexText;
    else
        s.hexStyle = HexStyle::HEXOnly;
    return s;
}

RenderOptions TForm6::renderOptions() const
{
    RenderOptions o;
    o.lineTimestamps = ui->LineTimestamp_CheckBox->isChecked();
    o.blockTimestamps = ui->BlockTimestamp_CheckBox->isChecked();
    o.idleGapMs = ui->IdleGap_CheckBox->isChecked() ? ui->IdleGapEdit->value() : 0;
    o.protocol = ui->ModbusRtu_Radio->isChecked() ? modbus::Protocol::Rtu
            : ui->ModbusAscii_Radio->isChecked()  ? modbus::Protocol::Ascii
                                                  : modbus::Protocol::None;
    return o;
}

TForm6::Snapshot TForm6::snapshot() const
{
    return {ui->NoCR_Radio->isChecked(),
            ui->LF_Radio->isChecked(),
            ui->CR_Radio->isChecked(),
            ui->UserDefineCRLF_Radio->isChecked(),
            ui->Edit1->text(),
            ui->Edit1->isEnabled(),
            ui->Label2->isEnabled(),
            ui->Button1->isEnabled(),
            ui->HEXOnly_Radio->isChecked(),
            ui->HexAnsi_Radio->isChecked(),
            ui->AnsiHex_Radio->isChecked(),
            ui->FormSizable_CheckBox->isChecked(),
            ui->ShowQuicklyPanel_CheckBox->isChecked(),
            ui->HexText_Radio->isChecked(),
            ui->LineTimestamp_CheckBox->isChecked(),
            ui->BlockTimestamp_CheckBox->isChecked(),
            ui->IdleGap_CheckBox->isChecked(),
            ui->IdleGapEdit->value(),
            ui->Counters_CheckBox->isChecked(),
            ui->MemoryLimit_CheckBox->isChecked(),
            ui->MemoryLimitEdit->value(),
            ui->LogJoinGapEdit->value(),
            ui->ProtocolNone_Radio->isChecked(),
            ui->ModbusRtu_Radio->isChecked(),
            ui->ModbusAscii_Radio->isChecked()};
}

void TForm6::restore(const Snapshot &s)
{
    // A button of an exclusive group cannot be unchecked on its own; checking the one that
    // was checked unchecks the others, which gives the same state.
    const auto check = [](QRadioButton *button, bool checked) {
        if (checked)
            button->setChecked(true);
    };
    check(ui->NoCR_Radio, s.noCR);
    check(ui->LF_Radio, s.lf);
    check(ui->CR_Radio, s.cr);
    check(ui->UserDefineCRLF_Radio, s.userDefine);
    ui->Edit1->setText(s.edit1Text);
    setEdit1Enabled(s.edit1Enabled);
    ui->Label2->setEnabled(s.label2Enabled);
    ui->Button1->setEnabled(s.button1Enabled);
    check(ui->HEXOnly_Radio, s.hexOnly);
    check(ui->HexAnsi_Radio, s.hexAnsi);
    check(ui->AnsiHex_Radio, s.ansiHex);
    check(ui->HexText_Radio, s.hexText);
    ui->FormSizable_CheckBox->setChecked(s.formSizable);
    ui->ShowQuicklyPanel_CheckBox->setChecked(s.showQuicklyPanel);
    ui->LineTimestamp_CheckBox->setChecked(s.lineTimestamps);
    ui->BlockTimestamp_CheckBox->setChecked(s.blockTimestamps);
    ui->IdleGap_CheckBox->setChecked(s.idleGap);
    ui->IdleGapEdit->setValue(s.idleGapMs);
    ui->Counters_CheckBox->setChecked(s.counters);
    ui->MemoryLimit_CheckBox->setChecked(s.memoryLimit);
    ui->MemoryLimitEdit->setValue(s.memoryLimitMb);
    ui->LogJoinGapEdit->setValue(s.logJoinGapMs);
    check(ui->ProtocolNone_Radio, s.protocolNone);
    check(ui->ModbusRtu_Radio, s.modbusRtu);
    check(ui->ModbusAscii_Radio, s.modbusAscii);
    setPanelColour(ui->ShowArea_ColorPanel, panelColour(ui->tmpPanel));
}

void TForm6::showColourAtOpening(const QColor &colour)
{
    setPanelColour(ui->ShowArea_ColorPanel, colour);
    setPanelColour(ui->tmpPanel, panelColour(ui->ShowArea_ColorPanel));
}

QColor TForm6::previewColour() const { return panelColour(ui->ShowArea_ColorPanel); }

TForm6::WindowOptions TForm6::windowOptions() const
{
    return {ui->ShowQuicklyPanel_CheckBox->isChecked(), ui->FormSizable_CheckBox->isChecked(),
            previewColour(), ui->Counters_CheckBox->isChecked(),
            ui->MemoryLimit_CheckBox->isChecked() ? ui->MemoryLimitEdit->value() : 0};
}

int TForm6::logJoinGapMs() const { return ui->LogJoinGapEdit->value(); }

void TForm6::setEdit1Enabled(bool enabled)
{
    ui->Edit1->setEnabled(enabled);
    // All colour groups: a disabled box is drawn from the disabled one.
    setColour(ui->Edit1, QPalette::Base, enabled ? windowColour() : Gray);
}

void TForm6::Button1Click()
{
    const CodeInsertion::Pick picked = CodeInsertion::pick();
    if (!picked.accepted)
        return;
    // The box takes one character: with its text selected the code replaces it.
    ui->Edit1->setFocus(Qt::TabFocusReason);
    ui->Edit1->selectAll();
    if (picked.code)
        CodeInsertion::insertCode(ui->Edit1, *picked.code);
}

void TForm6::MemoColorButtonClick()
{
    // The dialog forgets what the user tried and dropped: it opens with the last confirmed
    // colour, not with the preview's.
    ColorDialog->setCurrentColor(m_confirmedColour);
    if (ColorDialog->exec() != QDialog::Accepted)
        return;
    m_confirmedColour = ColorDialog->selectedColor();
    setPanelColour(ui->ShowArea_ColorPanel, m_confirmedColour);
}

void TForm6::leaveUserRule()
{
    setEdit1Enabled(false);
    ui->Button1->setEnabled(false);
    ui->Label2->setEnabled(false);
}

void TForm6::NoCR_RadioEnter() { leaveUserRule(); }

void TForm6::LF_RadioEnter() { leaveUserRule(); }

void TForm6::CR_RadioEnter() { leaveUserRule(); }

void TForm6::UserDefineCRLF_RadioEnter()
{
    setEdit1Enabled(true);
    ui->Button1->setEnabled(true);
    ui->Label2->setEnabled(true);
    // The next key typed replaces the break character. Coming back from Edit1 with Shift+Tab
    // the focus stays here: sent on into Edit1 it could never leave the box backwards.
    if (m_enteringReason != Qt::BacktabFocusReason) {
        ui->Edit1->setFocus(Qt::TabFocusReason);
        ui->Edit1->selectAll();
    }
    ui->UserDefineCRLF_Radio->setChecked(true);
}

bool TForm6::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn && watched != m_activeControl) {
        m_enteringReason = static_cast<QFocusEvent *>(event)->reason();
        if (watched == ui->NoCR_Radio)
            NoCR_RadioEnter();
        else if (watched == ui->LF_Radio)
            LF_RadioEnter();
        else if (watched == ui->CR_Radio)
            CR_RadioEnter();
        else if (watched == ui->UserDefineCRLF_Radio)
            UserDefineCRLF_RadioEnter();
    }
    return QDialog::eventFilter(watched, event);
}
