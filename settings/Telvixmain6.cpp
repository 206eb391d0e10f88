// SPDX-License-Identifier: MIT
#include "Telvixmain6.h"

#include "ui_Telvixmain6.h"

#include "main/Fonts.h"

TForm6::TForm6(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TForm6>())
{
    ui->setupUi(this);
    setFont(Fonts::ming());
    setFixedSize(size());
}

TForm6::~TForm6() = default;

void TForm6::reject() { done(2); }
