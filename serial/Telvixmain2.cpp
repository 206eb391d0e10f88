// SPDX-License-Identifier: MIT
#include "Telvixmain2.h"

#include "ui_Telvixmain2.h"

#include "serial/NetworkAddress.h"
#include "serial/PortDirectory.h"
#include "widgets/Fonts.h"

#include <QHeaderView>
#include <QShowEvent>

namespace {
std::vector<serial::PortInfo> lastScan;

// The parity buttons in the order they stand in the dialog, each with what it means; the
// first checked one counts.
struct ParityButton
{
    QRadioButton *Ui::TForm2::*button;
    serial::Parity parity;
};
constexpr ParityButton ParityButtons[] = {
        {&Ui::TForm2::RadioButton11, serial::Parity::None},
        {&Ui::TForm2::RadioButton12, serial::Parity::Even},
        {&Ui::TForm2::RadioButton13, serial::Parity::Odd},
        {&Ui::TForm2::RadioButton18, serial::Parity::Mark},
        {&Ui::TForm2::RadioButton19, serial::Parity::Space},
};
} // namespace

TForm2::TForm2(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TForm2>())
{
    ui->setupUi(this);
    setFont(Fonts::terminal(12));
    setFixedSize(size());
    connect(ui->BitBtn1, &QPushButton::clicked, this, [this] { done(ResultOk); });
    connect(ui->BitBtn2, &QPushButton::clicked, this, [this] { done(ResultCancel); });
    connect(ui->ComPortEdit, &QLineEdit::textChanged, this, &TForm2::updateMapping);
    connect(ui->DevicePathEdit, &QLineEdit::textChanged, this, &TForm2::updateMapping);
    // One click (or Enter, or a platform that activates on one click) takes the port's number;
    // a double click takes it and confirms, as choosing from a list does elsewhere.
    connect(ui->PortListView, &QTreeWidget::itemClicked, this, &TForm2::takePort);
    connect(ui->PortListView, &QTreeWidget::itemActivated, this, &TForm2::takePort);
    connect(ui->PortListView, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *item) {
        takePort(item);
        done(ResultOk);
    });
    for (serial::FlowControl flow : {serial::FlowControl::Keep, serial::FlowControl::None,
                                     serial::FlowControl::RtsCts, serial::FlowControl::XonXoff})
        ui->FlowControlCombo->addItem(PortSettings::flowControlText(flow), int(flow));
    // The list is wider than its box once a description is long: nothing is cut, it scrolls.
    ui->PortListView->header()->setStretchLastSection(false);
}

void TForm2::takePort(QTreeWidgetItem *item)
{
    if (!item)
        return;
    ui->ComPortEdit->setText(item->text(0).mid(3));
    ui->DevicePathEdit->clear();
}

TForm2::~TForm2() = default;

void TForm2::reject() { done(ResultCancel); }

void TForm2::showEvent(QShowEvent *event)
{
    refreshPorts();
    QDialog::showEvent(event);
    // The number is what most users come to change.
    ui->ComPortEdit->setFocus(Qt::OtherFocusReason);
    ui->ComPortEdit->selectAll();
}

PortSettings::DialogValues TForm2::values() const
{
    PortSettings::DialogValues v;
    v.portText = ui->ComPortEdit->text();
    v.devicePath = ui->DevicePathEdit->text().trimmed();
    // What the line under the list shows for the number is what the user confirms.
    if (const serial::PortInfo *named = serial::portForComText(lastScan, v.portText.toStdString()))
        v.namedPort = *named;
    v.baudText = ui->BaudRateEdit->text();
    for (const ParityButton &b : ParityButtons) {
        if ((ui.get()->*b.button)->isChecked()) {
            v.parity = b.parity;
            break;
        }
    }
    v.dataBits = ui->RadioButton15->isChecked() ? 7 : 8;
    v.stopBits = ui->RadioButton17->isChecked() ? 2 : 0;
    v.flow = serial::FlowControl(ui->FlowControlCombo->currentData().toInt());
    return v;
}

void TForm2::refreshPorts()
{
    lastScan = serial::scanPorts(serial::CurrentScanRoots);
    ui->PortListView->clear();
    for (size_t i = 0; i < lastScan.size(); ++i) {
        const serial::PortInfo &p = lastScan[i];
        auto *item = new QTreeWidgetItem(ui->PortListView);
        item->setText(0, QStringLiteral("COM%1").arg(i + 1));
        item->setText(1, QString::fromStdString(p.devicePath));
        item->setText(2, QString::fromStdString(p.description()));
        // Each cell shows itself whole on hover, the description with the udev name beside.
        item->setToolTip(0, item->text(1));
        item->setToolTip(1, item->text(1));
        QString description = item->text(2);
        if (!p.byIdName.empty())
            description += u'\n' + QString::fromStdString(p.byIdName);
        item->setToolTip(2, description);
    }
    for (int c = 0; c < 3; ++c)
        ui->PortListView->resizeColumnToContents(c);
    updateMapping();
}

void TForm2::updateMapping()
{
    const QString path = ui->DevicePathEdit->text().trimmed();
    QString text;
    if (!path.isEmpty() && serial::isNetworkPath(path.toStdString())) {
        std::string problem;
        text = serial::parseNetworkAddress(path.toStdString(), problem)
                ? QStringLiteral("使用網路埠 %1 (不看 com 編號)").arg(path)
                : QStringLiteral("網路埠位址不正確:%1").arg(QString::fromStdString(problem));
    } else if (!path.isEmpty()) {
        text = QStringLiteral("使用裝置路徑 %1 (不看 com 編號)").arg(path);
    } else {
        const QString com = ui->ComPortEdit->text();
        const serial::PortInfo *p = serial::portForComText(lastScan, com.toStdString());
        if (p)
            text = QStringLiteral("COM%1 = %2  %3")
                           .arg(com, QString::fromStdString(p->devicePath),
                                QString::fromStdString(p->description()));
        else if (lastScan.empty())
            text = QStringLiteral("COM%1 : 本機沒有找到任何串列埠").arg(com);
        else
            text = QStringLiteral("COM%1 : 沒有這個埠 (本機有 COM1 ~ COM%2)")
                           .arg(com)
                           .arg(lastScan.size());
    }
    ui->PortMappingLabel->setText(text);
}
