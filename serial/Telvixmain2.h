// SPDX-License-Identifier: MIT
// The port settings dialog. It validates nothing: the main window takes its values over on OK.
#pragma once

#include "serial/PortSettings.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TForm2;
}

class TForm2 : public QDialog
{
    Q_OBJECT

public:
    // Modal results as the program has always numbered them.
    enum { ResultOk = 1, ResultCancel = 2 };

    explicit TForm2(QWidget *parent = nullptr);
    ~TForm2() override;

    PortSettings::DialogValues values() const;

    // The port list and the line that tells which device the typed number names.
    void refreshPorts();

public slots:
    void reject() override; // Esc and the close box give Cancel

protected:
    void showEvent(QShowEvent *event) override;

private:
    void updateMapping();
    void updateRs485Row();
    void takePort(class QTreeWidgetItem *item);
    void fitPortList();

    std::unique_ptr<Ui::TForm2> ui;
    // Width of the form as the .ui file lays it out; the port list widens it from there.
    int m_baseWidth = 0;
    QString m_rs485Tip; // the RS-485 box's own, while no network path disables it
};

inline TForm2 *Form2 = nullptr;
