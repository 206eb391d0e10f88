// SPDX-License-Identifier: MIT
// Sending a file: head string, the file's bytes, end string, each byte paced, Break between.
#include "main/Telvixmain1.h"

#include "ui_Telvixmain3.h"

#include "main/IntText.h"
#include "main/MessageBoxes.h"
#include "main/ModeFrame.h"
#include "main/ModeState.h"
#include "send/ByteSender.h"
#include "send/FileByteStream.h"
#include "send/SendText.h"
#include "send/SendTexts.h"
#include "send/Telvixmain3.h"

#include <QFileDialog>

namespace {

QFileDialog *prepareOpenDialog(TForm1 &form)
{
    if (!form.OpenDialog1) {
        auto *dialog = new QFileDialog(&form);
        dialog->setObjectName(QStringLiteral("OpenDialog1"));
        // Qt's own dialog on every desktop: the same look everywhere, every control reachable
        // by accessibility tools, and a dialog that tests can fill in.
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        dialog->setOption(QFileDialog::HideNameFilterDetails);
        dialog->setFileMode(QFileDialog::ExistingFile);
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setWindowTitle(QStringLiteral("選擇欲傳送之 TELVIX  ( 檔案名稱)"));
        form.OpenDialog1 = dialog;
    }
    QFileDialog *dialog = form.OpenDialog1;
    // "*.*" names every file where it was first written; here it would hide the files without
    // an extension, so the pattern is "*" and the name box starts empty.
    dialog->setNameFilter(QStringLiteral("所有檔案(*.*) (*)"));
    dialog->selectFile(QString());
    return dialog;
}

// The delay of the confirmation box, or nothing once the user has been told why not.
std::optional<int32_t> delayOf(TForm1 &form, const QString &text)
{
    const std::optional<int32_t> delay = IntText::toInt32(text);
    if (!delay) {
        MessageBoxes::errorBox(&form, IntText::notAnIntegerMessage(text));
        return std::nullopt;
    }
    if (*delay < 0) {
        MessageBoxes::message(&form, SendTexts::negativeDelay(text));
        return std::nullopt;
    }
    return delay;
}

std::optional<QByteArray> bytesOf(TForm1 &form, const QString &text)
{
    const SendText::Bytes converted = SendText::toBytes(text);
    if (!converted.bytes)
        MessageBoxes::message(&form, SendText::unencodableMessage(text, converted.badIndex));
    return converted.bytes;
}

} // namespace

void TForm1::Send_FileContentMenuBarClick()
{
    QFileDialog *dialog = prepareOpenDialog(*this);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return;
    const QString path = dialog->selectedFiles().constFirst();
    const int64_t size = FileByteStream::querySize(path);
    Form3->showFile(path, size);
    if (Form3->exec() != TForm3::ResultSend)
        return;

    FileByteStream file;
    if (!file.open(path)) {
        MessageBoxes::message(this, SendTexts::fileOpenFailed(path));
        return;
    }
    Ui::TForm3 &confirm = *Form3->form();
    const std::optional<int32_t> delay = delayOf(*this, confirm.IntercharDelayEdit->text());
    if (!delay)
        return;
    const std::optional<QByteArray> head = bytesOf(*this, confirm.HeadStringEdit->text());
    if (!head)
        return;
    const std::optional<QByteArray> end = bytesOf(*this, confirm.EndStringEdit->text());
    if (!end)
        return;

    // Started from inside a typed-string send, which keeps its own port, this send's failure
    // or end must not clear the flag that send still needs.
    const uint8_t outerSendActive = ModeState::SendActive;
    ModeFrame frame(*this, Mode::FileSend);
    if (!frame.begin()) {
        ModeState::SendActive = outerSendActive;
        return;
    }

    ByteSender sender(ModeState::PortHandle, *delay);
    sender.setStop([] { return ModeState::BreakRequested != 0; });
    // A byte the line no longer takes (the device is gone) ends the send as a Break would:
    // reporting the file as sent would be false.
    bool lineLost = false;
    const auto sendString = [&](const QByteArray &bytes) {
        for (const char byte : bytes) {
            if (ModeState::BreakRequested != 0 || lineLost)
                return;
            if (!sender.write(uint8_t(byte))) {
                lineLost = ModeState::BreakRequested == 0;
                return;
            }
            sender.gap();
        }
    };

    // A pipe or device with nothing yet waits for its next byte; Break still ends it.
    file.setWaitHook([&sender] {
        sender.dispatchEvents();
        return ModeState::BreakRequested == 0;
    });

    sendString(*head);

    int64_t sent = 0;
    // Shown only when events are about to run: then the text a user can see is always the
    // current count, while a fast send does not rebuild it a million times a second.
    const auto showProgress = [&] {
        if (sent > 0)
            setStatusPanel(2, SendTexts::fileProgress(sent - 1, size));
    };
    sender.setBeforeDispatch(showProgress);
    while (ModeState::BreakRequested == 0 && !lineLost) {
        const int byte = file.next();
        if (byte < 0)
            break;
        if (!sender.write(uint8_t(byte))) {
            lineLost = ModeState::BreakRequested == 0;
            break;
        }
        ++sent;
        sender.gap();
    }
    showProgress();
    sender.setBeforeDispatch({});

    // A file that could not be read to its end was not sent whole: its end string would tell
    // the device otherwise, and the summary must not say complete.
    const bool readFailed = file.failed();
    if (!readFailed)
        sendString(*end);

    const bool interrupted = ModeState::BreakRequested != 0 || lineLost || readFailed;
    MessageBoxes::message(this, SendTexts::fileSummary(path, size, sent, interrupted));
    file.close();
    frame.end();
    ModeState::SendActive = outerSendActive;
}
