// SPDX-License-Identifier: MIT
#include "Telvixmain5.h"

#include "ui_Telvixmain5.h"

#include "send/TextColours.h"
#include "traffic/ControlCodes.h"
#include "widgets/Fonts.h"

TForm5::TForm5(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TForm5>())
{
    ui->setupUi(this);
    setFont(Fonts::mingFixed());
    setFixedSize(size());
    TextColours::set(ui->GroupBox1, QPalette::WindowText, TextColours::Navy);
    TextColours::set(ui->Label1, QPalette::WindowText, TextColours::Purple);
    TextColours::set(ui->Label2, QPalette::WindowText, TextColours::Purple);
    connect(ui->BitBtn1, &QPushButton::clicked, this, [this] { done(ResultInsert); });
    connect(ui->BitBtn2, &QPushButton::clicked, this, [this] { done(ResultCancel); });
}

TForm5::~TForm5() = default;

void TForm5::reject() { done(ResultCancel); }

QRadioButton *TForm5::radioButton(int n) const
{
    return findChild<QRadioButton *>(QStringLiteral("RadioButton%1").arg(n));
}

std::optional<uint8_t> TForm5::checkedCode() const
{
    for (int n = 2; n <= ControlCodes::Count; ++n) {
        if (radioButton(n)->isChecked())
            return uint8_t(n - 1);
    }
    return std::nullopt;
}
