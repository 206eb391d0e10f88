// SPDX-License-Identifier: MIT
// Sending typed strings: the dialog comes back after every string until the user leaves it.
#include "main/Telvixmain1.h"

#include "ui_Telvixmain4.h"

#include "main/IntText.h"
#include "main/MessageBoxes.h"
#include "main/ModeState.h"
#include "main/ModeTable.h"
#include "send/ByteSender.h"
#include "send/SendText.h"
#include "send/SendTexts.h"
#include "send/Telvixmain4.h"

#include <QCheckBox>
#include <QCoreApplication>

namespace {

enum class Outcome { Again, EndMode };

// One press of Send: the box's bytes, each paced, then the optional 0Dh without a pause.
Outcome sendString(TForm1 &form, int port)
{
    Ui::TForm4 &ui = *Form4->form();
    const QString text = ui.Edit1->text();
    const SendText::Bytes converted = SendText::toBytes(text);
    if (!converted.bytes) {
        MessageBoxes::message(&form, SendText::unencodableMessage(text, converted.badIndex));
        return Outcome::Again;
    }
    // The whole text goes out, however long: the box has no limit and nothing is cut.
    const QByteArray &bytes = *converted.bytes;

    const QString delayText = ui.DelayTimeEdit->text();
    const std::optional<int32_t> delay = IntText::toInt32(delayText);
    if (!bytes.isEmpty() && delay && *delay < 0) {
        MessageBoxes::message(&form, SendTexts::negativeDelay(delayText));
        return Outcome::Again;
    }

    ByteSender sender(port, delay.value_or(0));
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (!sender.write(uint8_t(bytes[i]))) {
            MessageBoxes::message(&form, SendTexts::lineLost(i, bytes.size()));
            return Outcome::Again;
        }
        // The delay is converted once its first byte is out, and a text that is no number
        // stops the send there; the mode then ends as it does when left.
        if (!delay) {
            MessageBoxes::errorBox(&form, IntText::notAnIntegerMessage(delayText));
            return Outcome::EndMode;
        }
        sender.gap();
    }
    if (ui.CheckBox1->isChecked() && !sender.write(0x0D))
        MessageBoxes::message(&form, SendTexts::lineLost(bytes.size(), bytes.size() + 1));
    return Outcome::Again;
}

} // namespace

void TForm1::Send_UserStringMenuBarClick()
{
    // Another send may be running beneath this one (the string send disables nothing); its
    // flag is put back rather than cleared.
    const uint8_t outerSendActive = ModeState::SendActive;
    ModeState::SendActive = 1;
    Initial_RS232_Register();
    if (ModeState::PortReady == 0) {
        ModeState::SendActive = outerSendActive;
        return;
    }
    // Held here, not read from PortHandle: a mode started between two bytes may open another
    // port and close it again, and this send must go on with, and close, its own.
    const int port = ModeState::PortHandle;
    setStatusPanel(2, QString::fromUtf8(SendTexts::StringSendStart));

    for (;;) {
        QCoreApplication::processEvents();
        if (Form4->exec() != TForm4::ResultSend)
            break;
        if (sendString(*this, port) == Outcome::EndMode)
            break;
    }

    if (ModeState::PortHandle == port)
        closePort();
    else
        serial::closePort(port);
    setStatusPanel(2, QString::fromUtf8(ModeTable::IdleText));
    ModeState::SendActive = outerSendActive;
}
