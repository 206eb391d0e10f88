// SPDX-License-Identifier: MIT
#include "Telvixmain3.h"

#include "ui_Telvixmain3.h"

#include "main/Fonts.h"

TForm3::TForm3(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TForm3>())
{
    ui->setupUi(this);
    setFont(Fonts::ming());
    setFixedSize(size());
}

TForm3::~TForm3() = default;

void TForm3::reject() { done(2); }
