// SPDX-License-Identifier: MIT
#include "Telvixmain2.h"

#include "ui_Telvixmain2.h"

#include "serial/NetworkAddress.h"
#include "serial/PortDirectory.h"
#include "widgets/Fonts.h"

#include <QHeaderView>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>

#include <algorithm>

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
    m_baseWidth = width();
    setFixedSize(size());
    connect(ui->BitBtn1, &QPushButton::clicked, this, [this] { done(ResultOk); });
    connect(ui->BitBtn2, &QPushButton::clicked, this, [this] { done(ResultCancel); });
    connect(ui->ComPortEdit, &QLineEdit::textChanged, this, &TForm2::updateMapping);
    connect(ui->DevicePathEdit, &QLineEdit::textChanged, this, &TForm2::updateMapping);
    connect(ui->DevicePathEdit, &QLineEdit::textChanged, this, &TForm2::updateRs485Row);
    connect(ui->Rs485Check, &QCheckBox::toggled, this, &TForm2::updateRs485Row);
    for (QSpinBox *delay : {ui->Rs485DelayBeforeSpin, ui->Rs485DelayAfterSpin})
        delay->setMaximum(int(serial::Rs485MaxDelayMs));
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
    ui->PortListView->header()->setStretchLastSection(false);
    m_rs485Tip = ui->Rs485Check->toolTip();
    updateRs485Row();
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
    v.rs485.enabled = ui->Rs485Check->isChecked();
    v.rs485.rtsOnSend = ui->Rs485RtsOnSendCheck->isChecked();
    v.rs485.rtsAfterSend = ui->Rs485RtsAfterSendCheck->isChecked();
    v.rs485.delayBeforeSendMs = uint32_t(ui->Rs485DelayBeforeSpin->value());
    v.rs485.delayAfterSendMs = uint32_t(ui->Rs485DelayAfterSpin->value());
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
    fitPortList();
    updateMapping();
}

// The list shows every column whole: the form grows to the right as far as the screen allows,
// and a description still too long for what is left wraps in its column. The documented rows
// on the left stay where they are; what stands to the right of them moves or widens with the
// list.
void TForm2::fitPortList()
{
    QTreeWidget *list = ui->PortListView;
    int columns = 0;
    for (int c = 0; c < 3; ++c) {
        list->resizeColumnToContents(c);
        columns += list->columnWidth(c);
    }
    // Room for a vertical scroll bar is kept whether one shows or not, so that the rows'
    // widths do not depend on how many ports there are.
    const int listChrome = list->frameWidth() * 2
            + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list->verticalScrollBar());
    QGroupBox *group = ui->PortListGroup;
    const QMargins frame = group->contentsMargins();
    const QMargins inner = group->layout()->contentsMargins();
    const int groupChrome = frame.left() + frame.right() + inner.left() + inner.right();

    const int grown = width() - m_baseWidth;
    const int baseGroupWidth = group->width() - grown;
    const int windowFrame = frameSize().width() - width();
    const int screenWidth = screen() ? screen()->availableGeometry().width() : m_baseWidth;
    const int most = std::max(0, screenWidth - windowFrame - m_baseWidth);
    const int extra = std::clamp(columns + listChrome + groupChrome - baseGroupWidth, 0, most);
    const int step = extra - grown;
    if (step != 0) {
        for (QWidget *w :
             {static_cast<QWidget *>(group), static_cast<QWidget *>(ui->DevicePathEdit),
              static_cast<QWidget *>(ui->PortMappingLabel)})
            w->resize(w->width() + step, w->height());
        for (QWidget *w : {ui->BitBtn1, ui->BitBtn2})
            w->move(w->x() + step, w->y());
        setFixedSize(width() + step, height());
        group->layout()->activate();
    }
    const int left =
            group->width() - groupChrome - listChrome - list->columnWidth(0) - list->columnWidth(1);
    if (list->columnWidth(2) > left) {
        const int column = std::max(left, list->header()->minimumSectionSize());
        list->setColumnWidth(2, column);
        // The tree sizes its rows without the column's width, so a wrapped description gets
        // the height of its lines from here.
        const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
        const QRect room(0, 0, column - 2 * margin, QWIDGETSIZE_MAX);
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            QTreeWidgetItem *item = list->topLevelItem(row);
            const QRect lines =
                    list->fontMetrics().boundingRect(room, Qt::TextWordWrap, item->text(2));
            item->setSizeHint(2, QSize(column, lines.height() + 2));
        }
    }
    list->doItemsLayout();
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

// A network port's RS-485 is the server's: the row keeps what it holds for when a device is
// named again. Its details mean something only while it is on.
void TForm2::updateRs485Row()
{
    const bool device = !serial::isNetworkPath(ui->DevicePathEdit->text().trimmed().toStdString());
    ui->Rs485Check->setEnabled(device);
    ui->Rs485Check->setToolTip(device ? m_rs485Tip
                                      : QStringLiteral("網路埠的 RS-485 由伺服器設定"));
    const bool details = device && ui->Rs485Check->isChecked();
    for (QWidget *w : std::initializer_list<QWidget *> {
                 ui->Rs485RtsOnSendCheck, ui->Rs485RtsAfterSendCheck, ui->Rs485DelayBeforeLabel,
                 ui->Rs485DelayBeforeSpin, ui->Rs485DelayAfterLabel, ui->Rs485DelayAfterSpin})
        w->setEnabled(details);
}
