// SPDX-License-Identifier: MIT
#include "SelfTestDialog.h"

#include "serial/PortDirectory.h"
#include "serial/PortScan.h"
#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "session/ModeHost.h"
#include "traffic/LineEvents.h"
#include "traffic/Traffic.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// The device the settings name before anything is opened, as the port dialog resolves it:
// a typed path stands for itself, a COM number for the port it counts to, if there is one.
QString settingsDevice()
{
    if (!PortSettings::DevicePathText.isEmpty())
        return PortSettings::DevicePathText;
    const std::vector<serial::PortInfo> ports = serial::scanPorts(serial::CurrentScanRoots);
    const serial::PortInfo *port =
            serial::portForComText(ports, PortSettings::PortNumberText.toStdString());
    return port ? QString::fromStdString(port->devicePath) : QStringLiteral("沒有這個埠");
}

QString portNameText(const QString &device)
{
    return QStringLiteral("測試的埠: ")
            + LineSelfTest::portText(PortSettings::PortNameText, device);
}

} // namespace

void runLineSelfTest(ModeHost &host, QWidget *parent)
{
    SelfTestDialog dialog(host, parent);
    dialog.exec();
}

const QList<int32_t> &SelfTestDialog::speedChoices()
{
    static const QList<int32_t> speeds {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
    return speeds;
}

SelfTestDialog::SelfTestDialog(ModeHost &host, QWidget *parent) : QDialog(parent), m_host(host)
{
    setObjectName(QStringLiteral("SelfTestDialog"));
    setWindowTitle(QStringLiteral("線路自我測試"));

    m_portName = new QLabel(portNameText(settingsDevice()), this);
    m_portName->setObjectName(QStringLiteral("portName"));
    m_portName->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *speeds = new QGroupBox(QStringLiteral("速率"), this);
    auto *speedGrid = new QGridLayout(speeds);
    for (qsizetype i = 0; i < speedChoices().size(); ++i) {
        const int32_t speed = speedChoices()[i];
        auto *box = new QCheckBox(QString::number(speed), speeds);
        box->setObjectName(QStringLiteral("speed%1").arg(speed));
        box->setAccessibleName(QStringLiteral("速率 %1").arg(speed));
        box->setChecked(speed == 9600 || speed == 115200);
        speedGrid->addWidget(box, int(i / 4), int(i % 4));
        m_speedBoxes.append(box);
    }

    auto *peerLabel = new QLabel(QStringLiteral("對接埠 (空白 = 迴路插頭)"), this);
    m_peerPath = new QLineEdit(this);
    m_peerPath->setObjectName(QStringLiteral("peerPath"));
    m_peerPath->setAccessibleName(QStringLiteral("對接埠"));
    m_peerPath->setPlaceholderText(QStringLiteral("/dev/ttyUSB1"));
    peerLabel->setBuddy(m_peerPath);

    // A new sequence each time the dialog opens; the seed a report names repeats that run.
    auto *seedLabel = new QLabel(QStringLiteral("亂數種子"), this);
    m_seed = new QSpinBox(this);
    m_seed->setObjectName(QStringLiteral("seed"));
    m_seed->setAccessibleName(QStringLiteral("亂數種子"));
    m_seed->setRange(1, 999999);
    m_seed->setValue(int(QRandomGenerator::global()->bounded(1u, 1000000u)));
    seedLabel->setBuddy(m_seed);
    auto *seedRow = new QHBoxLayout;
    seedRow->addWidget(seedLabel);
    seedRow->addWidget(m_seed);
    seedRow->addStretch();

    m_table = new QTableWidget(0, 3, this);
    m_table->setObjectName(QStringLiteral("results"));
    m_table->setAccessibleName(QStringLiteral("測試結果"));
    m_table->setHorizontalHeaderLabels(
            {QStringLiteral("項目"), QStringLiteral("結果"), QStringLiteral("說明")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    // A 說明 is a sentence or two: it wraps inside the column, never runs past the edge, and
    // the rows grow with it whenever the column's width changes.
    m_table->setWordWrap(true);
    m_table->setTextElideMode(Qt::ElideNone);
    m_table->setMinimumSize(720, 260);
    connect(m_table->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section) {
        if (section == 2)
            m_table->resizeRowsToContents();
    });

    m_status = new QLabel(QStringLiteral("接上迴路插頭或對接線後按「開始」"), this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);

    m_startButton = new QPushButton(QStringLiteral("開始"), this);
    m_startButton->setObjectName(QStringLiteral("startButton"));
    m_stopButton = new QPushButton(QStringLiteral("停止"), this);
    m_stopButton->setObjectName(QStringLiteral("stopButton"));
    m_closeButton = new QPushButton(QStringLiteral("關閉"), this);
    m_closeButton->setObjectName(QStringLiteral("closeButton"));
    m_startButton->setDefault(true);
    m_stopButton->setEnabled(false);
    connect(m_startButton, &QPushButton::clicked, this, &SelfTestDialog::start);
    connect(m_stopButton, &QPushButton::clicked, this, &SelfTestDialog::requestStop);
    connect(m_closeButton, &QPushButton::clicked, this, &SelfTestDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_startButton);
    buttons->addWidget(m_stopButton);
    buttons->addWidget(m_closeButton);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_portName);
    layout->addWidget(speeds);
    layout->addWidget(peerLabel);
    layout->addWidget(m_peerPath);
    layout->addLayout(seedRow);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
}

void SelfTestDialog::reject()
{
    // Esc and 關閉 while the test runs stop it; the dialog closes once the ports are let go.
    if (m_running) {
        m_stopRequested = true;
        m_closeAfterRun = true;
        return;
    }
    QDialog::reject();
}

void SelfTestDialog::closeEvent(QCloseEvent *event)
{
    if (m_running) {
        event->ignore();
        reject();
        return;
    }
    QDialog::closeEvent(event);
}

void SelfTestDialog::setRunning(bool running)
{
    m_running = running;
    m_startButton->setEnabled(!running);
    m_stopButton->setEnabled(running);
    m_peerPath->setEnabled(!running);
    m_seed->setEnabled(!running);
    for (QCheckBox *box : std::as_const(m_speedBoxes))
        box->setEnabled(!running);
    if (running)
        m_stopButton->setFocus();
}

void SelfTestDialog::start()
{
    if (m_running)
        return;
    LineSelfTest::Options options;
    for (QCheckBox *box : std::as_const(m_speedBoxes)) {
        if (box->isChecked())
            options.speeds.push_back(box->text().toInt());
    }
    if (options.speeds.empty()) {
        m_status->setText(QStringLiteral("請至少勾選一個速率"));
        m_host.message(QStringLiteral("請至少勾選一個速率"));
        return;
    }
    options.params = {PortSettings::BaudRate, PortSettings::Parity, PortSettings::DataBits,
                      PortSettings::StopBits};
    options.seed = uint32_t(m_seed->value());

    std::unique_ptr<SerialPort> port = m_host.openPort();
    if (!port) {
        m_status->setText(QStringLiteral("無法開啟埠"));
        return;
    }
    std::unique_ptr<SerialPort> peer;
    const QString peerPath = m_peerPath->text().trimmed();
    if (!peerPath.isEmpty()) {
        SerialPort::Opened opened = SerialPort::open(peerPath.toStdString(), options.params);
        if (!opened.port) {
            m_status->setText(QStringLiteral("無法開啟對接埠"));
            QString text = peerPath + QStringLiteral(" 埠,無法開啟");
            if (!opened.reason.empty())
                text += u'\n' + QString::fromStdString(opened.reason);
            m_host.message(text);
            return;
        }
        peer = std::move(opened.port);
    }
    const QString device = QString::fromStdString(port->path());
    m_portName->setText(portNameText(device));
    const QString tested = LineSelfTest::portText(PortSettings::PortNameText, device);
    const QString portsText = peer ? QStringLiteral("%1 → %2").arg(tested, peerPath)
                                   : QStringLiteral("迴路插頭 %1").arg(tested);

    m_stopRequested = false;
    m_table->setRowCount(0);
    setRunning(true);
    options.stopRequested = [this] { return m_stopRequested; };
    options.progress = [this](const QString &text) { m_status->setText(text); };
    m_results = LineSelfTest::run(*port, peer ? *peer : *port, options);
    const QString report = LineSelfTest::reportText(m_results, options, portsText);
    peer.reset();
    port.reset();

    m_host.traffic().publish(LineEvents::report(monotonicMicroseconds(), report));
    m_host.traffic().passEnd();
    showResults();
    setRunning(false);
    m_startButton->setFocus();
    if (m_closeAfterRun) {
        m_closeAfterRun = false;
        QDialog::reject();
    }
}

void SelfTestDialog::showResults()
{
    const std::vector<LineSelfTest::Row> rows = LineSelfTest::rows(m_results);
    m_table->setRowCount(int(rows.size()));
    for (int i = 0; i < int(rows.size()); ++i) {
        const LineSelfTest::Row &row = rows[size_t(i)];
        auto *verdict = new QTableWidgetItem(row.verdict);
        // The word carries the verdict; the colour only helps the eye find the failures.
        if (row.failed)
            verdict->setForeground(QColor(0xB0, 0x00, 0x00));
        else if (row.passed)
            verdict->setForeground(QColor(0x00, 0x70, 0x00));
        m_table->setItem(i, 0, new QTableWidgetItem(row.item));
        m_table->setItem(i, 1, verdict);
        auto *detail = new QTableWidgetItem(row.detail);
        detail->setToolTip(row.detail);
        m_table->setItem(i, 2, detail);
    }
    m_table->resizeColumnToContents(0);
    m_table->resizeColumnToContents(1);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->resizeRowsToContents();
    m_status->setText(LineSelfTest::summaryText(m_results));
}
