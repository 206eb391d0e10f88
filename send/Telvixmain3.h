// SPDX-License-Identifier: MIT
// The file-send confirmation, with the head and end strings that frame the file.
#pragma once

#include "send/FileSendJob.h"

#include <QDialog>

#include <cstdint>
#include <memory>

namespace Ui {
class TForm3;
}

// Which string box gets the next picked control code: 1 neither box has lost the focus yet,
// 2 HeadStringEdit, 3 EndStringEdit. Never reset while the program runs.
inline int CtrlCodeTarget = 1;

class TForm3 : public QDialog
{
    Q_OBJECT

public:
    enum Result { ResultSend = 1, ResultCancel = 2 };

    explicit TForm3(QWidget *parent = nullptr);
    ~TForm3() override;

    // The chosen file's path and its size as the file system gave it (-1: unknown).
    void showFile(const QString &path, int64_t size);
    // The file shown and what the boxes hold now.
    FileSendRequest request() const;

public slots:
    void InsertCtrlCodeButtonClick();
    void HeadStringEditExit();
    void EndStringEditExit();
    void reject() override; // Esc and the close box give Cancel

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<Ui::TForm3> ui;
    QString m_path;
    int64_t m_size = -1;
};

inline TForm3 *Form3 = nullptr;
