// SPDX-License-Identifier: MIT
// The typed-string send dialog.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TForm4;
}

class TForm4 : public QDialog
{
    Q_OBJECT

public:
    explicit TForm4(QWidget *parent = nullptr);
    ~TForm4() override;

    Ui::TForm4 *form() const { return ui.get(); }

public slots:
    void reject() override; // Esc and the close box give Cancel

private:
    std::unique_ptr<Ui::TForm4> ui;
};

inline TForm4 *Form4 = nullptr;
