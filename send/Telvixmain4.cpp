// SPDX-License-Identifier: MIT
#include "Telvixmain4.h"

#include "ui_Telvixmain4.h"

#include "send/CodeInsertion.h"
#include "send/TextColours.h"
#include "widgets/Fonts.h"

TForm4::TForm4(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TForm4>())
{
    ui->setupUi(this);
    setFont(Fonts::ming());
    setFixedSize(size());
    ui->Edit1->setFont(Fonts::terminal(23));
    TextColours::set(ui->Edit1, QPalette::Text, TextColours::Red);
    TextColours::set(ui->DelayTimeEdit, QPalette::Text, TextColours::Teal);
    CodeInsertion::keepSelection(ui->Edit1);
    connect(ui->BitBtn1, &QPushButton::clicked, this, [this] { done(ResultSend); });
    connect(ui->BitBtn2, &QPushButton::clicked, this, [this] { done(ResultLeave); });
    connect(ui->BitBtn3, &QPushButton::clicked, this, &TForm4::BitBtn3Click);
}

TForm4::~TForm4() = default;

StringSendRequest TForm4::request() const
{
    return {ui->Edit1->text(), ui->DelayTimeEdit->text(), ui->CheckBox1->isChecked(),
            ui->HexInputCheckBox->isChecked()};
}

void TForm4::reject() { done(ResultLeave); }

void TForm4::BitBtn3Click()
{
    if (CodeInsertion::pickAndInsert(ui->Edit1))
        ui->Edit1->setFocus();
}
