// SPDX-License-Identifier: MIT
// The typed-string send dialog.
#pragma once

#include "send/StringSendJob.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TForm4;
}

class TForm4 : public QDialog
{
    Q_OBJECT

public:
    enum Result { ResultSend = 1, ResultLeave = 2 };

    explicit TForm4(QWidget *parent = nullptr);
    ~TForm4() override;

    // What the boxes hold now.
    StringSendRequest request() const;

public slots:
    void BitBtn3Click();
    void reject() override; // Esc and the close box give Leave

private:
    std::unique_ptr<Ui::TForm4> ui;
};

inline TForm4 *Form4 = nullptr;
