// SPDX-License-Identifier: MIT
#include "ModeFrame.h"

#include "ui_Telvixmain1.h"

#include "main/ModeState.h"
#include "main/Telvixmain1.h"

#include <QAction>
#include <QMenu>

namespace {

void setControlEnabled(TForm1 &form, std::string_view name, bool enabled)
{
    const QString objectName = QString::fromUtf8(name.data(), qsizetype(name.size()));
    // A whole menu or submenu is switched through the action that opens it.
    if (QMenu *menu = form.findChild<QMenu *>(objectName)) {
        menu->menuAction()->setEnabled(enabled);
    } else if (QAction *action = form.findChild<QAction *>(objectName)) {
        action->setEnabled(enabled);
    } else if (QWidget *widget = form.findChild<QWidget *>(objectName)) {
        widget->setEnabled(enabled);
    } else {
        qFatal("mode table names a control the main window lacks: %s", qPrintable(objectName));
    }
}

} // namespace

ModeFrame::ModeFrame(TForm1 &form, Mode mode) : m_form(form), m_column(ModeTable::column(mode)) { }

void ModeFrame::setColumnEnabled(TForm1 &form, Mode mode, bool enabled)
{
    for (std::string_view name : ModeTable::controlsOff(mode))
        setControlEnabled(form, name, enabled);
}

void ModeFrame::setBreakEnabled(TForm1 &form, bool enabled)
{
    for (std::string_view name : ModeTable::BreakControls)
        setControlEnabled(form, name, enabled);
}

bool ModeFrame::begin()
{
    *m_column.activeFlag = 1;
    m_form.Initial_RS232_Register();
    if (ModeState::PortReady == 0) {
        *m_column.activeFlag = 0;
        return false;
    }
    Ui::TForm1 &ui = *m_form.form();
    if (m_column.clearMemoAtStart)
        ui.Memo1->clear();
    if (m_column.readOnlyLook) {
        m_savedColour = m_form.memo1Colour();
        m_form.setMemo1Colour(m_form.palette().color(QPalette::Button));
        ui.Memo1->setReadOnly(true);
    }
    setColumnEnabled(m_form, m_column.mode, false);
    setBreakEnabled(m_form, true);
    if (m_column.showTerminalPanels) {
        ui.EchoDataPanel->setVisible(true);
        ui.Panel8->setVisible(true);
    }
    m_form.setStatusPanel(2, QString::fromUtf8(m_column.startText));
    return true;
}

void ModeFrame::end()
{
    ModeState::BreakRequested = 0;
    *m_column.activeFlag = 0;
    m_form.closePort();
    Ui::TForm1 &ui = *m_form.form();
    // Unconditionally on again: whatever state a control had before the mode, it is usable now.
    setColumnEnabled(m_form, m_column.mode, true);
    setBreakEnabled(m_form, false);
    if (m_column.readOnlyLook) {
        ui.Memo1->setReadOnly(false);
        m_form.setMemo1Colour(m_savedColour);
    }
    if (m_column.clearMemoAtEnd)
        ui.Memo1->clear();
    if (m_column.showTerminalPanels) {
        ui.EchoDataPanel->setVisible(false);
        ui.Panel8->setVisible(false);
    }
    m_form.setStatusPanel(2, QString::fromUtf8(ModeTable::IdleText));
}
