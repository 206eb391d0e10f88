// SPDX-License-Identifier: MIT
// The monitor's two lines: for A and for B the port (its COM number, or a device path or a
// network URL) and its four parameters, as the port dialog sets the one port, and the names of
// the two directions. A starts from the port dialog's settings; B takes A's parameters until
// told otherwise.
#pragma once

#include "serial/PortSettings.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;

class MonitorDialog : public QDialog
{
    Q_OBJECT

public:
    explicit MonitorDialog(QWidget *parent = nullptr);

    struct Values
    {
        PortSettings::PortChoice a;
        PortSettings::PortChoice b;
        QString nameA;
        QString nameB;
    };
    // A from the settings, B the next COM number with A's parameters, the default names.
    void reset(const PortSettings::PortChoice &a);
    // A anew (the port dialog's settings as they are now); B and the names as they were.
    void setA(const PortSettings::PortChoice &a);
    // What the dialog holds; nothing, and `problem` set, when a field is no value.
    std::optional<Values> values(QString *problem = nullptr) const;

    void accept() override;

private:
    struct Side
    {
        QLineEdit *number = nullptr;
        QLineEdit *path = nullptr;
        QComboBox *baud = nullptr;
        QComboBox *parity = nullptr;
        QComboBox *bits = nullptr;
        QComboBox *stop = nullptr;
        QLineEdit *name = nullptr;
    };
    void fill(Side &side, const PortSettings::PortChoice &choice);
    std::optional<PortSettings::PortChoice> choiceOf(const Side &side, const QString &label,
                                                     QString &problem) const;
    void followA();

    Side m_a;
    Side m_b;
    QCheckBox *m_sameParams = nullptr;
};
