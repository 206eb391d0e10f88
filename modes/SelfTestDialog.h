// SPDX-License-Identifier: MIT
// The dialog of the cable self-test: the speeds to try, an optional second port for a
// null-modem cable, 開始 / 停止 / 關閉, and the table of results. The ports are opened when 開始
// is pressed and closed again before the dialog returns.
#pragma once

#include "modes/LineSelfTest.h"

#include <QDialog>
#include <QList>

class ModeHost;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QWidget;

// Shows the dialog modally; its report reaches the host's traffic stream.
void runLineSelfTest(ModeHost &host, QWidget *parent);

class SelfTestDialog : public QDialog
{
    Q_OBJECT

public:
    SelfTestDialog(ModeHost &host, QWidget *parent = nullptr);

    // The speeds 9600 … 921600 a box can tick, in order.
    static const QList<int32_t> &speedChoices();

    bool isRunning() const { return m_running; }
    const LineSelfTest::Results &results() const { return m_results; }

    void start();
    void requestStop() { m_stopRequested = true; }

    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void showResults();
    void setRunning(bool running);

    ModeHost &m_host;
    QList<QCheckBox *> m_speedBoxes;
    QLineEdit *m_peerPath = nullptr;
    QSpinBox *m_seed = nullptr;
    QPushButton *m_startButton = nullptr;
    QPushButton *m_stopButton = nullptr;
    QPushButton *m_closeButton = nullptr;
    QTableWidget *m_table = nullptr;
    QLabel *m_portName = nullptr;
    QLabel *m_status = nullptr;
    bool m_running = false;
    bool m_stopRequested = false;
    bool m_closeAfterRun = false;
    LineSelfTest::Results m_results;
};
