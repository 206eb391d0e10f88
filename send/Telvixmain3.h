// SPDX-License-Identifier: MIT
// The file-send confirmation.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TForm3;
}

class TForm3 : public QDialog
{
    Q_OBJECT

public:
    explicit TForm3(QWidget *parent = nullptr);
    ~TForm3() override;

    Ui::TForm3 *form() const { return ui.get(); }

public slots:
    void reject() override; // Esc and the close box give Cancel

private:
    std::unique_ptr<Ui::TForm3> ui;
};

inline TForm3 *Form3 = nullptr;
