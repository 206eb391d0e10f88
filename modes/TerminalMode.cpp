// SPDX-License-Identifier: MIT
// Terminal mode: a two-way conversation, each block labelled with the local or remote name.
//
// The port stays open for the whole conversation. Closing it around every send, to switch
// between reading and writing as other systems needed, would lose what the device answers
// meanwhile and drop DTR, which resets many devices; one descriptor reads and writes here, and
// what arrives during a send waits in the driver and is shown after it, in order.
#include "main/Telvixmain1.h"

#include "ui_Telvixmain1.h"

#include "main/DisplayFormatter.h"
#include "main/FontChoice.h"
#include "main/Fonts.h"
#include "main/IntText.h"
#include "main/MessageBoxes.h"
#include "main/ModeFrame.h"
#include "main/ModeState.h"
#include "main/ReadLoop.h"
#include "send/CodeInsertion.h"
#include "send/SendPacing.h"
#include "send/SendText.h"
#include "send/SendTexts.h"
#include "serial/SerialLine.h"

#include <QCoreApplication>
#include <QFontDialog>
#include <QKeyEvent>

void TForm1::setUpTerminalPanels()
{
    QPalette p = ui->Memo2->palette();
    p.setColor(QPalette::Text, Qt::darkGreen);
    ui->Memo2->setPalette(p);
    ui->Memo2->installEventFilter(this);
    ui->UpDown1->setAssociate(ui->TRMode_Char_DelayTime_Edit);
    ui->UpDown1->setRange(1, 10000);
    ui->UpDown1->setPosition(1);
    connect(ui->SendEchoMessageButton, &QPushButton::clicked, this,
            &TForm1::SendEchoMessageButtonClick);
    connect(ui->EchoEditControlInsertButton, &QPushButton::clicked, this,
            &TForm1::EchoEditControlInsertButtonClick);
    connect(ui->MessageFontColorButton, &QPushButton::clicked, this,
            &TForm1::MessageFontColorButtonClick);
}

QString TForm1::terminalPrefix(const QString &name) const
{
    return QChar(DisplayFormatter::LineBreak) + name + QStringLiteral(" : ");
}

void TForm1::EnableTRModeMenubarClick()
{
    ModeFrame frame(*this, Mode::Terminal);
    if (!frame.begin())
        return;
    ModeState::RemotePrefixWritten = 0;
    ui->Memo2->setFocus();
    QString shown;
    ReadLoop::run(
            [this, &shown](const uint8_t *bytes, size_t count) {
                // The first byte of a reply opens it with the remote name.
                if (ModeState::RemotePrefixWritten == 0) {
                    ModeState::RemotePrefixWritten = 1;
                    shown += terminalPrefix(ui->RemoteNameEdit->text());
                }
                DisplayFormatter::appendShown(bytes, count, shown);
            },
            [this, &shown] {
                ui->Memo1->insertAtCaret(shown);
                shown.clear();
                ModeState::ReadRestartRequested = 0;
            });
    frame.end();
}

void TForm1::SendEchoMessageButtonClick()
{
    // A send runs to its end before anything else happens; a second press meanwhile (possible
    // only while a stalled line lets events through) is not a second send.
    if (m_sending || ModeState::PortHandle < 0)
        return;
    // The box holds control codes as glyphs and lines joined by '\n'; the line carries CR LF.
    QString text = ui->Memo2->toPlainText();
    text.replace(u'\n', QStringLiteral("\r\n"));
    const SendText::Bytes converted = SendText::toBytes(text);
    if (!converted.bytes) {
        MessageBoxes::message(this, SendText::unencodableMessage(text, converted.badIndex));
        return;
    }
    m_sending = true;
    ModeState::SendActive = 1;
    ModeState::ReadRestartRequested = 1;
    ModeState::RemotePrefixWritten = 0;
    ui->Memo1->insertAtCaret(terminalPrefix(ui->LocalNameEdit->text()));
    const int fd = ModeState::PortHandle;
    const QByteArray &bytes = *converted.bytes;
    bool completed = true;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uint8_t byte = uint8_t(bytes[i]);
        // Events wait until the message is out, as the user expects of a send; only a line
        // that holds a byte back lets them through, so the window never hangs on it.
        const bool written = serial::writeByte(fd, byte, [] {
            QCoreApplication::processEvents();
            return ModeState::BreakRequested == 0;
        });
        const auto sentAt = SendPacing::Clock::now();
        if (!written) {
            completed = false;
            // Break is the user's own stop; a line that no longer takes bytes (the device is
            // gone) would otherwise end the message without a word.
            if (ModeState::BreakRequested == 0)
                MessageBoxes::message(this, SendTexts::lineLost(i, bytes.size()));
            break;
        }
        const QString delayText = ui->TRMode_Char_DelayTime_Edit->text();
        const std::optional<int32_t> delay = IntText::toInt32(delayText);
        if (!delay) {
            MessageBoxes::errorBox(this, IntText::notAnIntegerMessage(delayText));
            completed = false;
            break;
        }
        if (*delay < 0) {
            MessageBoxes::errorBox(this,
                                   QStringLiteral("傳送延遲不可為負數 : '%1'").arg(delayText));
            completed = false;
            break;
        }
        if (*delay > 0)
            SendPacing::sleepUntil(sentAt + std::chrono::milliseconds(*delay));
        ShowDataToMemo1(byte);
    }
    ModeState::SendActive = 0;
    m_sending = false;
    if (!completed)
        return;
    ui->Memo2->clear();
    ui->Memo2->setFocus();
}

bool TForm1::Memo2KeyPress(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    SendEchoMessageButtonClick();
    ui->Memo2->clear(); // also when the send failed
    return true;
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->Memo2 && event->type() == QEvent::KeyPress
        && Memo2KeyPress(static_cast<QKeyEvent *>(event)))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::EchoEditControlInsertButtonClick()
{
    CodeInsertion::pickAndInsertAfterSelection(ui->Memo2);
}

void TForm1::MessageFontColorButtonClick()
{
    const FontChoice::Choice choice = FontChoice::choose(FontDialog1, ui->Memo2->font());
    if (choice.accepted) {
        if (choice.font)
            ui->Memo2->setFont(*choice.font);
        ui->Memo2->setFocus();
    }
}
