// SPDX-License-Identifier: MIT
// The program settings dialog.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TForm6;
}

class TForm6 : public QDialog
{
    Q_OBJECT

public:
    explicit TForm6(QWidget *parent = nullptr);
    ~TForm6() override;

    Ui::TForm6 *form() const { return ui.get(); }

public slots:
    void reject() override; // Esc and the close box give Cancel

private:
    std::unique_ptr<Ui::TForm6> ui;
};

inline TForm6 *Form6 = nullptr;
