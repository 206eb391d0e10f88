// SPDX-License-Identifier: MIT
#include "Telvixmain5.h"

#include "ui_Telvixmain5.h"

#include "main/Fonts.h"

TForm5::TForm5(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TForm5>())
{
    ui->setupUi(this);
    setFont(Fonts::mingFixed());
    setFixedSize(size());
}

TForm5::~TForm5() = default;

void TForm5::reject() { done(2); }
