// SPDX-License-Identifier: MIT
// The control-code picker. It only closes with a result; each caller reads the checked code.
#pragma once

#include <QDialog>

#include <cstdint>
#include <memory>
#include <optional>

namespace Ui {
class TForm5;
}
class QRadioButton;

class TForm5 : public QDialog
{
    Q_OBJECT

public:
    enum Result { ResultCancel = 2, ResultInsert = 6 };

    explicit TForm5(QWidget *parent = nullptr);
    ~TForm5() override;

    // RadioButtonN stands for the code N - 1.
    QRadioButton *radioButton(int n) const;

    // The checked code, tested from RadioButton2 on: "00h - NULL" is never inserted, so it
    // gives nothing.
    std::optional<uint8_t> checkedCode() const;

public slots:
    void reject() override; // Esc and the close box give Cancel

private:
    std::unique_ptr<Ui::TForm5> ui;
};

inline TForm5 *Form5 = nullptr;
