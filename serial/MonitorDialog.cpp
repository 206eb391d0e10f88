// SPDX-License-Identifier: MIT
#include "MonitorDialog.h"

#include "widgets/Fonts.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char *const Speeds[] = {"300",   "1200",  "2400",   "4800",   "9600",   "19200",
                              "38400", "57600", "115200", "230400", "460800", "921600"};

QComboBox *combo(QWidget *parent, const QString &name, const QStringList &items, bool editable)
{
    auto *c = new QComboBox(parent);
    c->addItems(items);
    c->setEditable(editable);
    c->setAccessibleName(name);
    return c;
}

} // namespace

MonitorDialog::MonitorDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("MonitorDialog"));
    setWindowTitle(QStringLiteral("監聽模式"));
    setFont(Fonts::ming());
    auto *grid = new QGridLayout;
    const QStringList rows = {QStringLiteral("com"),      QStringLiteral("裝置路徑或網址"),
                              QStringLiteral("傳輸速率"), QStringLiteral("同位檢查"),
                              QStringLiteral("資料位元"), QStringLiteral("停止位元"),
                              QStringLiteral("方向名稱")};
    for (int r = 0; r < rows.size(); ++r)
        grid->addWidget(new QLabel(rows[r], this), r + 1, 0);
    QStringList speeds;
    for (const char *s : Speeds)
        speeds << QString::fromLatin1(s);
    const auto makeSide = [&](Side &side, const char *letter, int column) {
        const QString l = QString::fromLatin1(letter);
        auto *head = new QLabel(QStringLiteral("埠 %1").arg(l), this);
        head->setAlignment(Qt::AlignCenter);
        grid->addWidget(head, 0, column);
        side.number = new QLineEdit(this);
        side.number->setObjectName(QStringLiteral("MonitorPort%1Edit").arg(l));
        side.number->setAccessibleName(QStringLiteral("埠 %1 com 編號").arg(l));
        side.number->setMaxLength(3);
        side.path = new QLineEdit(this);
        side.path->setObjectName(QStringLiteral("MonitorPath%1Edit").arg(l));
        side.path->setAccessibleName(QStringLiteral("埠 %1 裝置路徑").arg(l));
        side.path->setPlaceholderText(QStringLiteral("空白時以 com 編號為準"));
        side.path->setMinimumWidth(220);
        side.baud = combo(this, QStringLiteral("埠 %1 傳輸速率").arg(l), speeds, true);
        side.parity = combo(this, QStringLiteral("埠 %1 同位檢查").arg(l),
                            {QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even"),
                             QStringLiteral("Mark"), QStringLiteral("Space")},
                            false);
        side.bits = combo(this, QStringLiteral("埠 %1 資料位元").arg(l),
                          {QStringLiteral("8"), QStringLiteral("7")}, false);
        side.stop = combo(this, QStringLiteral("埠 %1 停止位元").arg(l),
                          {QStringLiteral("1"), QStringLiteral("2")}, false);
        side.name = new QLineEdit(this);
        side.name->setObjectName(QStringLiteral("MonitorName%1Edit").arg(l));
        side.name->setAccessibleName(QStringLiteral("埠 %1 聽到的方向名稱").arg(l));
        int row = 1;
        for (QWidget *w :
             std::initializer_list<QWidget *> {side.number, side.path, side.baud, side.parity,
                                               side.bits, side.stop, side.name})
            grid->addWidget(w, row++, column);
    };
    makeSide(m_a, "A", 1);
    makeSide(m_b, "B", 2);
    m_sameParams = new QCheckBox(QStringLiteral("B 使用 A 的參數"), this);
    m_sameParams->setObjectName(QStringLiteral("MonitorSameParamsCheck"));
    m_sameParams->setChecked(true);
    grid->addWidget(m_sameParams, int(rows.size()) + 1, 2);
    auto *note =
            new QLabel(QStringLiteral("兩個埠都只讀取:不送出任何資料,也不變更 DTR/RTS。"), this);
    note->setWordWrap(true);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("開始監聽"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(note);
    layout->addWidget(buttons);

    for (QComboBox *c : {m_a.baud, m_a.parity, m_a.bits, m_a.stop})
        connect(c, &QComboBox::currentTextChanged, this, &MonitorDialog::followA);
    connect(m_sameParams, &QCheckBox::toggled, this, &MonitorDialog::followA);
    reset(PortSettings::current());
}

void MonitorDialog::fill(Side &side, const PortSettings::PortChoice &choice)
{
    side.number->setText(choice.numberText);
    side.path->setText(choice.devicePath);
    side.baud->setCurrentText(QString::number(choice.baudRate));
    side.parity->setCurrentIndex(int(choice.parity));
    side.bits->setCurrentIndex(choice.dataBits == 7 ? 1 : 0);
    side.stop->setCurrentIndex(choice.stopBits == 2 ? 1 : 0);
}

void MonitorDialog::reset(const PortSettings::PortChoice &a)
{
    fill(m_a, a);
    PortSettings::PortChoice b = a;
    b.devicePath.clear();
    bool number = false;
    const int n = a.numberText.toInt(&number);
    b.numberText = number ? QString::number(n + 1) : QStringLiteral("2");
    fill(m_b, b);
    m_a.name->setText(MonitorDefaults::NameA);
    m_b.name->setText(MonitorDefaults::NameB);
    m_sameParams->setChecked(true);
    followA();
}

void MonitorDialog::setA(const PortSettings::PortChoice &a)
{
    fill(m_a, a);
    followA();
}

void MonitorDialog::followA()
{
    const bool same = m_sameParams->isChecked();
    const std::pair<QComboBox *, QComboBox *> pairs[] = {{m_a.baud, m_b.baud},
                                                         {m_a.parity, m_b.parity},
                                                         {m_a.bits, m_b.bits},
                                                         {m_a.stop, m_b.stop}};
    for (auto [a, b] : pairs) {
        b->setEnabled(!same);
        if (same)
            b->setCurrentText(a->currentText());
    }
}

std::optional<PortSettings::PortChoice>
MonitorDialog::choiceOf(const Side &side, const QString &label, QString &problem) const
{
    PortSettings::PortChoice c;
    c.devicePath = side.path->text().trimmed();
    c.numberText = side.number->text().trimmed();
    bool ok = false;
    const int n = c.numberText.toInt(&ok);
    if (c.devicePath.isEmpty() && (!ok || n < 1)) {
        problem = QStringLiteral("埠 %1 : com 編號「%2」不是正整數").arg(label, c.numberText);
        return std::nullopt;
    }
    const QString baud = side.baud->currentText().trimmed();
    c.baudRate = baud.toInt(&ok);
    if (!ok || c.baudRate <= 0) {
        problem = QStringLiteral("埠 %1 : 傳輸速率「%2」不是正整數").arg(label, baud);
        return std::nullopt;
    }
    c.parity = serial::Parity(side.parity->currentIndex());
    c.dataBits = side.bits->currentIndex() == 1 ? 7 : 8;
    c.stopBits = side.stop->currentIndex() == 1 ? 2 : 0;
    c.flow = serial::FlowControl::None; // heard only: nothing to hold back
    return c;
}

std::optional<MonitorDialog::Values> MonitorDialog::values(QString *problem) const
{
    QString why;
    std::optional<PortSettings::PortChoice> a = choiceOf(m_a, QStringLiteral("A"), why);
    std::optional<PortSettings::PortChoice> b =
            a ? choiceOf(m_b, QStringLiteral("B"), why) : std::nullopt;
    if (a && b && a->name() == b->name())
        why = QStringLiteral("埠 A 與埠 B 是同一個埠 %1").arg(a->name());
    if (!why.isEmpty()) {
        if (problem)
            *problem = why;
        return std::nullopt;
    }
    const auto named = [](const QLineEdit *e, const QString &fallback) {
        const QString n = e->text().trimmed();
        return n.isEmpty() ? fallback : n;
    };
    return Values {*a, *b, named(m_a.name, MonitorDefaults::NameA),
                   named(m_b.name, MonitorDefaults::NameB)};
}

void MonitorDialog::accept()
{
    QString problem;
    if (!values(&problem)) {
        MessageBoxes::message(this, problem);
        return;
    }
    QDialog::accept();
}
