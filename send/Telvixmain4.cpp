// SPDX-License-Identifier: MIT
#include "Telvixmain4.h"

#include "ui_Telvixmain4.h"

#include "main/Fonts.h"

TForm4::TForm4(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TForm4>())
{
    ui->setupUi(this);
    setFont(Fonts::ming());
    setFixedSize(size());
}

TForm4::~TForm4() = default;

void TForm4::reject() { done(2); }
