// SPDX-License-Identifier: MIT
#include "Telvixmain3.h"

#include "ui_Telvixmain3.h"

#include "send/CodeInsertion.h"
#include "send/SendTexts.h"
#include "send/TextColours.h"
#include "widgets/Fonts.h"

#include <QFocusEvent>

TForm3::TForm3(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TForm3>())
{
    ui->setupUi(this);
    setFont(Fonts::ming());
    setFixedSize(size());
    // The one dialog is made at start-up, which is where the target starts.
    CtrlCodeTarget = 1;
    for (QLineEdit *box : {ui->HeadStringEdit, ui->EndStringEdit}) {
        box->setFont(Fonts::terminal(16));
        TextColours::set(box, QPalette::Text, TextColours::Green);
        CodeInsertion::keepSelection(box);
        box->installEventFilter(this);
    }
    TextColours::set(ui->FilePathLabel, QPalette::WindowText, TextColours::Blue);
    TextColours::set(ui->FileSizeLabel, QPalette::WindowText, TextColours::Blue);
    TextColours::set(ui->Label2, QPalette::WindowText, TextColours::Purple);
    connect(ui->SendButton, &QPushButton::clicked, this, [this] { done(ResultSend); });
    connect(ui->CancelButton, &QPushButton::clicked, this, [this] { done(ResultCancel); });
    connect(ui->InsertCtrlCodeButton, &QPushButton::clicked, this,
            &TForm3::InsertCtrlCodeButtonClick);
}

TForm3::~TForm3() = default;

void TForm3::reject() { done(ResultCancel); }

FileSendRequest TForm3::request() const
{
    return {m_path, m_size, ui->HeadStringEdit->text(), ui->EndStringEdit->text(),
            ui->IntercharDelayEdit->text()};
}

void TForm3::showFile(const QString &path, int64_t size)
{
    m_path = path;
    m_size = size;
    ui->FilePathLabel->setText(path);
    ui->FilePathLabel->setToolTip(path); // a long path does not fit the label
    ui->FileSizeLabel->setText(SendTexts::fileSizeLabel(size));
}

bool TForm3::eventFilter(QObject *watched, QEvent *event)
{
    // Only a move of the focus inside the dialog counts as leaving a box; switching to
    // another window, or a popup, leaves it where it was.
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (watched == ui->HeadStringEdit)
                HeadStringEditExit();
            else if (watched == ui->EndStringEdit)
                EndStringEditExit();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TForm3::HeadStringEditExit() { CtrlCodeTarget = 2; }

void TForm3::EndStringEditExit() { CtrlCodeTarget = 3; }

void TForm3::InsertCtrlCodeButtonClick()
{
    const CodeInsertion::Pick picked = CodeInsertion::pick();
    if (!picked.accepted)
        return;
    if (CtrlCodeTarget == 1)
        CtrlCodeTarget = 2;
    QLineEdit *target = CtrlCodeTarget == 3 ? ui->EndStringEdit : ui->HeadStringEdit;
    if (picked.code && CodeInsertion::insertCode(target, *picked.code))
        target->setFocus();
}
