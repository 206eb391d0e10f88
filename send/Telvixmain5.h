// SPDX-License-Identifier: MIT
// The control-code picker.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TForm5;
}

class TForm5 : public QDialog
{
    Q_OBJECT

public:
    explicit TForm5(QWidget *parent = nullptr);
    ~TForm5() override;

    Ui::TForm5 *form() const { return ui.get(); }

public slots:
    void reject() override; // Esc and the close box give Cancel

private:
    std::unique_ptr<Ui::TForm5> ui;
};

inline TForm5 *Form5 = nullptr;
