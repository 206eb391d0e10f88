// SPDX-License-Identifier: MIT
#include "CommandPanel.h"

#include "send/CodeInsertion.h"
#include "send/CommandFile.h"
#include "send/CommandRepeat.h"
#include "traffic/Traffic.h"
#include "widgets/FileDialogs.h"
#include "widgets/MessageBoxes.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QShortcut>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

using CommandList::Command;
using CommandList::Ending;

constexpr int PanelHeight = 200;
constexpr int RulesSettleMs = 300;
constexpr int HitsRefreshMs = 100;
constexpr const char *FileFilter = "命令清單 (*.tvcmd)";

QComboBox *combo(QWidget *parent, const QStringList &items, const QString &name)
{
    auto *c = new QComboBox(parent);
    c->addItems(items);
    c->setAccessibleName(name);
    return c;
}

// The rows must fit the window's fixed width: the long names show whole in the list only.
QComboBox *checkCombo(QWidget *parent, const QString &name)
{
    auto *c = new QComboBox(parent);
    for (const Checksum::Algorithm &a : Checksum::algorithms())
        c->addItem(QString::fromUtf8(a.label), int(a.kind));
    c->setAccessibleName(name);
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    c->setMinimumContentsLength(8);
    return c;
}

QSpinBox *spin(QWidget *parent, int min, int max, int value, const QString &name, int width)
{
    auto *s = new QSpinBox(parent);
    s->setRange(min, max);
    s->setValue(value);
    s->setAccessibleName(name);
    s->setButtonSymbols(QAbstractSpinBox::NoButtons);
    s->setFixedWidth(width);
    return s;
}

QCheckBox *hexBox(QWidget *parent, bool hex, const QString &name)
{
    auto *b = new QCheckBox(QStringLiteral("HEX"), parent);
    b->setChecked(hex);
    b->setAccessibleName(name);
    b->setToolTip(QStringLiteral("內容是十六進位數字 (01 03 0A),不是文字"));
    return b;
}

QLineEdit *edit(QWidget *parent, const QString &text, const QString &name, int width)
{
    auto *e = new QLineEdit(text, parent);
    e->setAccessibleName(name);
    e->setFixedWidth(width);
    return e;
}

// A row's fields are named with its number, so that a screen reader says which row it is in.
QString fieldName(int row, const char *field)
{
    return QStringLiteral("第 %1 列 %2").arg(row + 1).arg(QString::fromUtf8(field));
}

void addHeader(QGridLayout *grid, const QStringList &titles)
{
    for (int i = 0; i < titles.size(); ++i)
        grid->addWidget(new QLabel(titles[i]), 0, i);
}

QWidget *scrolled(QWidget *parent, QGridLayout *&grid)
{
    auto *area = new QScrollArea(parent);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    auto *inner = new QWidget(area);
    grid = new QGridLayout(inner);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(3);
    grid->setVerticalSpacing(2);
    grid->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    area->setWidget(inner);
    return area;
}

QVBoxLayout *tabColumn(QWidget *tab)
{
    auto *column = new QVBoxLayout(tab);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    return column;
}

QPushButton *button(QWidget *parent, const QString &text, const char *objectName)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(objectName));
    b->setAutoDefault(false);
    return b;
}

void removeRowWidgets(QGridLayout *grid, int row)
{
    for (int col = 0; col < grid->columnCount(); ++col) {
        if (QLayoutItem *item = grid->itemAtPosition(row, col)) {
            QWidget *w = item->widget();
            grid->removeItem(item);
            delete item;
            delete w;
        }
    }
}

} // namespace

CommandPanel::CommandPanel(TrafficStream &traffic, QWidget *parent)
    : QFrame(parent), m_traffic(traffic)
{
    setObjectName(QStringLiteral("CommandPanel"));
    setAccessibleName(QStringLiteral("命令清單"));
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    setFixedHeight(PanelHeight);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("CommandTabs"));
    m_tabs->addTab(makeCommandsTab(), QStringLiteral("命令清單"));
    m_tabs->addTab(makeRepliesTab(), QStringLiteral("自動回應"));
    layout->addWidget(m_tabs);

    m_rulesEdited.setSingleShot(true);
    m_rulesEdited.setInterval(RulesSettleMs);
    connect(&m_rulesEdited, &QTimer::timeout, this, &CommandPanel::applyRules);
    m_hitsTimer.setSingleShot(true);
    m_hitsTimer.setInterval(HitsRefreshMs);
    connect(&m_hitsTimer, &QTimer::timeout, this, &CommandPanel::showHits);
    connect(&m_responder, &AutoResponder::matched, this, [this] {
        if (!m_hitsTimer.isActive())
            m_hitsTimer.start();
    });
    connect(&m_responder, &AutoResponder::limited, this, [this](int rule) {
        const AutoReply::Rule r = ruleAt(rule);
        m_replyNote->setText(QStringLiteral("規則 %1「%2」每秒已回應 %3 次,再多的比對只計數不回應")
                                     .arg(rule + 1)
                                     .arg(r.name)
                                     .arg(r.maxPerSecond));
    });
    updateSendButtons();
}

CommandPanel::~CommandPanel()
{
    stopRepeats();
    if (m_following)
        m_traffic.unsubscribe(&m_responder);
}

QWidget *CommandPanel::makeCommandsTab()
{
    auto *tab = new QWidget;
    QVBoxLayout *column = tabColumn(tab);
    auto *tools = new QHBoxLayout;
    tools->setSpacing(3);
    QPushButton *add = button(tab, QStringLiteral("新增"), "AddCommandButton");
    QPushButton *remove = button(tab, QStringLiteral("刪除"), "RemoveCommandButton");
    QPushButton *up = button(tab, QStringLiteral("上移"), "CommandUpButton");
    QPushButton *down = button(tab, QStringLiteral("下移"), "CommandDownButton");
    QPushButton *code = button(tab, QStringLiteral("插入控制碼"), "CommandInsertCodeButton");
    QPushButton *open = button(tab, QStringLiteral("開啟…"), "OpenCommandsButton");
    QPushButton *save = button(tab, QStringLiteral("儲存…"), "SaveCommandsButton");
    m_showSent = new QCheckBox(QStringLiteral("顯示送出"), tab);
    m_showSent->setObjectName(QStringLiteral("ShowSentCheck"));
    m_showSent->setToolTip(QStringLiteral("接收模式下,在顯示區也列出命令與自動回應送出的位元組"));
    for (QWidget *w :
         std::initializer_list<QWidget *> {add, remove, up, down, code, open, save, m_showSent})
        tools->addWidget(w);
    tools->addStretch(1);
    column->addLayout(tools);
    column->addWidget(scrolled(tab, m_commandGrid), 1);
    addHeader(m_commandGrid,
              {QString(), QStringLiteral("名稱"), QString(), QStringLiteral("內容"),
               QStringLiteral("校驗碼"), QStringLiteral("起點"), QStringLiteral("結尾"),
               QStringLiteral("重複 ms"), QStringLiteral("按鍵")});
    m_note = new QLabel(tab);
    m_note->setObjectName(QStringLiteral("CommandNoteLabel"));
    column->addWidget(m_note);

    connect(add, &QPushButton::clicked, this, [this] {
        Command c;
        c.name = QStringLiteral("命令 %1").arg(m_commands.size() + 1);
        addCommandRow(c);
        m_current = int(m_commands.size()) - 1;
        m_commands.back().content->setFocus();
    });
    connect(remove, &QPushButton::clicked, this, &CommandPanel::removeCommand);
    connect(up, &QPushButton::clicked, this, [this] { moveCommand(-1); });
    connect(down, &QPushButton::clicked, this, [this] { moveCommand(1); });
    connect(code, &QPushButton::clicked, this, [this] {
        const int row = currentCommand();
        if (row >= 0 && !m_commands[size_t(row)].hex->isChecked())
            CodeInsertion::pickAndInsert(m_commands[size_t(row)].content);
    });
    connect(open, &QPushButton::clicked, this, &CommandPanel::askOpen);
    connect(save, &QPushButton::clicked, this, &CommandPanel::askSave);
    return tab;
}

QWidget *CommandPanel::makeRepliesTab()
{
    auto *tab = new QWidget;
    QVBoxLayout *column = tabColumn(tab);
    auto *tools = new QHBoxLayout;
    QPushButton *add = button(tab, QStringLiteral("新增規則"), "AddRuleButton");
    QPushButton *remove = button(tab, QStringLiteral("刪除規則"), "RemoveRuleButton");
    tools->addWidget(add);
    tools->addWidget(remove);
    m_replyNote = new QLabel(tab);
    m_replyNote->setObjectName(QStringLiteral("ReplyNoteLabel"));
    tools->addWidget(m_replyNote, 1);
    column->addLayout(tools);
    column->addWidget(scrolled(tab, m_replyGrid), 1);
    addHeader(m_replyGrid,
              {QString(), QStringLiteral("名稱"), QStringLiteral("次數"), QStringLiteral("比對"),
               QStringLiteral("收到"), QString(), QStringLiteral("回應"), QStringLiteral("校驗碼"),
               QStringLiteral("起點"), QStringLiteral("結尾"), QStringLiteral("延遲 ms"),
               QStringLiteral("每秒上限")});
    connect(add, &QPushButton::clicked, this, [this] {
        AutoReply::Rule r;
        r.name = QStringLiteral("規則 %1").arg(m_replies.size() + 1);
        r.pattern = QStringLiteral("AT");
        r.reply.content = QStringLiteral("OK");
        r.reply.ending = Ending::CrLf;
        addReplyRow(r);
        m_replies.back().pattern->setFocus();
        m_rulesEdited.start();
    });
    connect(remove, &QPushButton::clicked, this, &CommandPanel::removeRule);
    return tab;
}

void CommandPanel::addCommandRow(const Command &c)
{
    const int row = int(m_commands.size());
    QWidget *p = m_commandGrid->parentWidget();
    CommandRow r {button(p, QStringLiteral("送出"), ""),
                  edit(p, c.name, fieldName(row, "名稱"), 60),
                  hexBox(p, c.hex, fieldName(row, "十六進位")),
                  edit(p, c.content, fieldName(row, "內容"), 104),
                  checkCombo(p, fieldName(row, "校驗碼")),
                  spin(p, 1, 65535, int(c.checkFrom + 1), fieldName(row, "校驗起點"), 32),
                  combo(p, CommandList::endingLabels(), fieldName(row, "結尾")),
                  spin(p, 0, CommandList::MaxRepeatMs, c.repeatMs, fieldName(row, "重複間隔"), 50),
                  combo(p, QStringList(QString()) + CommandList::keys(), fieldName(row, "按鍵"))};
    r.send->setObjectName(QStringLiteral("CommandSend%1").arg(row + 1));
    r.send->setFixedWidth(r.send->fontMetrics().horizontalAdvance(QStringLiteral("送出")) + 16);
    r.content->setObjectName(QStringLiteral("CommandContent%1").arg(row + 1));
    r.check->setCurrentIndex(r.check->findData(int(c.check)));
    r.ending->setCurrentIndex(int(c.ending));
    r.key->setCurrentText(c.key);
    r.repeatMs->setSpecialValueText(QStringLiteral("一次"));
    r.send->setAccessibleName(fieldName(row, "送出"));
    CodeInsertion::keepSelection(r.content);
    QWidget *fields[] = {r.send, r.name,   r.hex,      r.content, r.check,
                         r.from, r.ending, r.repeatMs, r.key};
    for (int col = 0; col < 9; ++col) {
        m_commandGrid->addWidget(fields[col], row + 1, col);
        fields[col]->setProperty("commandRow", row);
        fields[col]->installEventFilter(this);
    }
    connect(r.send, &QPushButton::clicked, this, [this, row] { fire(row); });
    connect(r.key, &QComboBox::currentTextChanged, this, &CommandPanel::updateShortcuts);
    connect(r.repeatMs, &QSpinBox::valueChanged, this, &CommandPanel::updateSendButtons);
    m_commands.push_back(r);
    updateSendButtons();
    updateShortcuts();
}

void CommandPanel::addReplyRow(const AutoReply::Rule &rule)
{
    const int row = int(m_replies.size());
    QWidget *p = m_replyGrid->parentWidget();
    ReplyRow r {
            new QCheckBox(p),
            edit(p, rule.name, fieldName(row, "規則名稱"), 50),
            new QLabel(QStringLiteral("0"), p),
            combo(p, {QStringLiteral("文字"), QStringLiteral("HEX"), QStringLiteral("規則式")},
                  fieldName(row, "比對方式")),
            edit(p, rule.pattern, fieldName(row, "收到的內容"), 80),
            hexBox(p, rule.reply.hex, fieldName(row, "回應為十六進位")),
            edit(p, rule.reply.content, fieldName(row, "回應內容"), 80),
            checkCombo(p, fieldName(row, "回應校驗碼")),
            spin(p, 1, 65535, int(rule.reply.checkFrom + 1), fieldName(row, "回應校驗起點"), 32),
            combo(p, CommandList::endingLabels(), fieldName(row, "回應結尾")),
            spin(p, 0, AutoReply::MaxDelayMs, rule.delayMs, fieldName(row, "延遲"), 44),
            spin(p, 1, 100000, rule.maxPerSecond, fieldName(row, "每秒上限"), 44)};
    r.on->setChecked(rule.on);
    r.on->setAccessibleName(fieldName(row, "啟用"));
    r.match->setCurrentIndex(int(rule.match));
    r.match->setToolTip(QStringLiteral("規則式:以規則運算式比對收到的文字 (Big5 中文為其字)"));
    r.check->setCurrentIndex(r.check->findData(int(rule.reply.check)));
    r.ending->setCurrentIndex(int(rule.reply.ending));
    r.hits->setAccessibleName(fieldName(row, "回應次數"));
    r.hits->setMinimumWidth(r.hits->fontMetrics().horizontalAdvance(QStringLiteral("99999")));
    QWidget *fields[] = {r.on,    r.name,  r.hits, r.match,  r.pattern, r.hex,
                         r.reply, r.check, r.from, r.ending, r.delayMs, r.perSecond};
    for (int col = 0; col < 12; ++col) {
        m_replyGrid->addWidget(fields[col], row + 1, col);
        fields[col]->setProperty("ruleRow", row);
        fields[col]->installEventFilter(this);
    }
    const auto edited = [this] { m_rulesEdited.start(); };
    for (QCheckBox *b : {r.on, r.hex})
        connect(b, &QCheckBox::toggled, this, edited);
    for (QLineEdit *e : {r.name, r.pattern, r.reply})
        connect(e, &QLineEdit::textEdited, this, edited);
    for (QComboBox *c : {r.match, r.check, r.ending})
        connect(c, &QComboBox::currentIndexChanged, this, edited);
    for (QSpinBox *s : {r.from, r.delayMs, r.perSecond})
        connect(s, &QSpinBox::valueChanged, this, edited);
    m_replies.push_back(r);
}

Command CommandPanel::commandAt(int row) const
{
    const CommandRow &r = m_commands[size_t(row)];
    Command c;
    c.name = r.name->text();
    c.hex = r.hex->isChecked();
    c.content = r.content->text();
    c.check = Checksum::Kind(r.check->currentData().toInt());
    c.checkFrom = r.from->value() - 1;
    c.ending = Ending(r.ending->currentIndex());
    c.repeatMs = r.repeatMs->value();
    c.key = r.key->currentText();
    return c;
}

AutoReply::Rule CommandPanel::ruleAt(int row) const
{
    AutoReply::Rule rule;
    if (row < 0 || size_t(row) >= m_replies.size())
        return rule;
    const ReplyRow &r = m_replies[size_t(row)];
    rule.name = r.name->text();
    rule.on = r.on->isChecked();
    rule.match = AutoReply::Match(r.match->currentIndex());
    rule.pattern = r.pattern->text();
    rule.reply.hex = r.hex->isChecked();
    rule.reply.content = r.reply->text();
    rule.reply.check = Checksum::Kind(r.check->currentData().toInt());
    rule.reply.checkFrom = r.from->value() - 1;
    rule.reply.ending = Ending(r.ending->currentIndex());
    rule.delayMs = r.delayMs->value();
    rule.maxPerSecond = r.perSecond->value();
    return rule;
}

std::vector<Command> CommandPanel::commands() const
{
    std::vector<Command> list;
    for (size_t i = 0; i < m_commands.size(); ++i)
        list.push_back(commandAt(int(i)));
    return list;
}

void CommandPanel::setCommands(const std::vector<Command> &commands)
{
    // A send held up by a full line lets events through, this one too: its repeat and its row
    // stay until it is out.
    if (m_sender.isSending()) {
        note(QStringLiteral("命令送出中,等送出完成再改清單"));
        return;
    }
    for (int row = int(m_commands.size()); row >= 1; --row)
        removeRowWidgets(m_commandGrid, row);
    for (CommandRow &r : m_commands) {
        delete r.shortcut;
        delete r.repeat;
    }
    m_commands.clear();
    m_current = -1;
    for (const Command &c : commands)
        addCommandRow(c);
    updateShortcuts();
}

std::vector<AutoReply::Rule> CommandPanel::rules() const
{
    std::vector<AutoReply::Rule> list;
    for (size_t i = 0; i < m_replies.size(); ++i)
        list.push_back(ruleAt(int(i)));
    return list;
}

void CommandPanel::setRules(const std::vector<AutoReply::Rule> &rules)
{
    for (int row = int(m_replies.size()); row >= 1; --row)
        removeRowWidgets(m_replyGrid, row);
    m_replies.clear();
    m_currentRule = -1;
    for (const AutoReply::Rule &r : rules)
        addReplyRow(r);
    applyRules();
}

int CommandPanel::currentCommand() const
{
    return m_current >= 0 && size_t(m_current) < m_commands.size() ? m_current : -1;
}

void CommandPanel::moveCommand(int by)
{
    const int row = currentCommand();
    std::vector<Command> list = commands();
    if (row < 0 || row + by < 0 || size_t(row + by) >= list.size())
        return;
    std::swap(list[size_t(row)], list[size_t(row + by)]);
    setCommands(list);
    m_current = row + by;
    m_commands[size_t(m_current)].name->setFocus();
}

void CommandPanel::removeCommand()
{
    const int row = currentCommand();
    if (row < 0)
        return;
    std::vector<Command> list = commands();
    list.erase(list.begin() + row);
    setCommands(list);
}

void CommandPanel::removeRule()
{
    std::vector<AutoReply::Rule> list = rules();
    if (list.empty())
        return;
    const int row = m_currentRule >= 0 && size_t(m_currentRule) < list.size()
            ? m_currentRule
            : int(list.size()) - 1;
    list.erase(list.begin() + row);
    setRules(list);
}

bool CommandPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (const QVariant rule = watched->property("ruleRow");
        rule.isValid() && event->type() == QEvent::FocusIn)
        m_currentRule = rule.toInt();
    const QVariant row = watched->property("commandRow");
    if (row.isValid()) {
        if (event->type() == QEvent::FocusIn)
            m_current = row.toInt();
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
            // Enter on a combo box whose list is open picks the item, as it always does.
            const auto *c = qobject_cast<QComboBox *>(watched);
            if (enter && key->modifiers() == Qt::NoModifier && !(c && c->view()->isVisible())) {
                fire(row.toInt());
                return true;
            }
        }
    }
    return QFrame::eventFilter(watched, event);
}

void CommandPanel::attach(SerialPort *port)
{
    if (!port)
        stopRepeats();
    m_sender.attach(port);
    // What the last mode's notes said stays to be read until the next one begins.
    if (port) {
        m_note->clear();
        m_replyNote->clear();
        m_responder.reset();
        applyRules();
    }
    updateSendButtons();
    follow();
}

bool CommandPanel::showsSent() const { return isVisible() && m_showSent->isChecked(); }

bool CommandPanel::answering() const { return m_following; }

void CommandPanel::showEvent(QShowEvent *event)
{
    QFrame::showEvent(event);
    follow();
    emit keysChanged();
}

void CommandPanel::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    // Hidden, the panel sends nothing: what repeats stops.
    stopRepeats();
    follow();
    emit keysChanged();
}

void CommandPanel::follow()
{
    bool on = false;
    for (const ReplyRow &r : m_replies)
        on = on || r.on->isChecked();
    const bool follow = on && m_sender.port() && isVisible();
    if (follow == m_following)
        return;
    // An answer held up by a full line lets events through from inside the stream's pass: the
    // stream's consumers change once it is over.
    if (m_sender.isSending()) {
        QTimer::singleShot(RulesSettleMs, this, &CommandPanel::follow);
        return;
    }
    m_following = follow;
    if (follow)
        m_traffic.subscribe(&m_responder);
    else
        m_traffic.unsubscribe(&m_responder);
}

void CommandPanel::applyRules()
{
    const QString problem = m_responder.setRules(rules());
    m_replyNote->setText(problem);
    showHits();
    follow();
}

void CommandPanel::showHits()
{
    for (size_t i = 0; i < m_replies.size(); ++i)
        m_replies[i].hits->setText(QString::number(m_responder.hits(int(i))));
}

void CommandPanel::note(const QString &text) { m_note->setText(text); }

void CommandPanel::updateSendButtons()
{
    const bool attached = m_sender.port() != nullptr;
    for (CommandRow &r : m_commands) {
        const bool repeats = r.repeatMs->value() > 0;
        r.send->setEnabled(attached);
        r.send->setToolTip(attached ? QString() : QString::fromUtf8(NoModeTip));
        // A repeat's button stays in while the repeat runs.
        r.send->setCheckable(repeats);
        r.send->setChecked(r.repeat && r.repeat->isRunning());
        r.send->setText(r.send->isChecked() ? QStringLiteral("停止") : QStringLiteral("送出"));
    }
}

void CommandPanel::updateShortcuts()
{
    for (size_t i = 0; i < m_commands.size(); ++i) {
        CommandRow &r = m_commands[i];
        const QString key = r.key->currentText();
        if (r.shortcut && r.shortcut->key() == QKeySequence(key))
            continue;
        delete r.shortcut;
        r.shortcut = nullptr;
        if (key.isEmpty())
            continue;
        // Bound to the panel, so a key fires only while the panel shows.
        r.shortcut = new QShortcut(QKeySequence(key), this);
        connect(r.shortcut, &QShortcut::activated, this, [this, i] { fire(int(i)); });
    }
    // A key given to two rows fires neither (Qt calls it ambiguous): said, not hidden.
    QStringList twice;
    QStringList seen;
    for (const CommandRow &r : m_commands) {
        const QString key = r.key->currentText();
        if (!key.isEmpty() && seen.contains(key) && !twice.contains(key))
            twice << key;
        seen << key;
    }
    if (!twice.isEmpty())
        note(QStringLiteral("按鍵 %1 給了兩個命令,按下時兩個都不送出").arg(twice.join(u'、')));
    emit keysChanged();
}

QList<QKeySequence> CommandPanel::keysTaken() const
{
    QList<QKeySequence> keys;
    if (!isVisible())
        return keys;
    for (const CommandRow &r : m_commands) {
        if (r.shortcut)
            keys << r.shortcut->key();
    }
    return keys;
}

CommandSender::Result CommandPanel::sendCommand(int row, const Command &c)
{
    const SendText::Composed composed = CommandList::compose(c);
    if (!composed.bytes) {
        note(QStringLiteral("第 %1 列「%2」:%3").arg(row + 1).arg(c.name, composed.problem));
        return CommandSender::Result::Stopped;
    }
    const CommandSender::Result result = m_sender.send(*composed.bytes);
    if (const QString text =
                CommandSender::message(result, m_sender.lastSent(), composed.bytes->size());
        !text.isEmpty())
        note(text);
    return result;
}

void CommandPanel::fire(int row)
{
    if (row < 0 || size_t(row) >= m_commands.size())
        return;
    m_current = row;
    if (!m_sender.port()) {
        note(QString::fromUtf8(NoModeTip));
        updateSendButtons();
        return;
    }
    const Command c = commandAt(row);
    if (c.repeatMs > 0) {
        toggleRepeat(row);
        return;
    }
    if (sendCommand(row, c) == CommandSender::Result::Busy)
        note(QStringLiteral("另一個送出還沒完成,「%1」沒有送出").arg(c.name));
}

void CommandPanel::toggleRepeat(int row)
{
    CommandRow &r = m_commands[size_t(row)];
    if (r.repeat && r.repeat->isRunning()) {
        r.repeat->stop();
        updateSendButtons();
        return;
    }
    delete r.repeat;
    r.repeat = nullptr;
    const Command c = commandAt(row);
    const SendText::Composed composed = CommandList::compose(c);
    if (!composed.bytes) {
        note(QStringLiteral("第 %1 列「%2」:%3").arg(row + 1).arg(c.name, composed.problem));
        updateSendButtons();
        return;
    }
    const QByteArray bytes = *composed.bytes;
    r.repeat = new CommandRepeat(
            c.repeatMs,
            [this, bytes] {
                const CommandSender::Result result = m_sender.send(bytes);
                if (result == CommandSender::Result::Sent)
                    return CommandRepeat::Outcome::Sent;
                if (result == CommandSender::Result::Busy)
                    return CommandRepeat::Outcome::Skipped;
                if (const QString text =
                            CommandSender::message(result, m_sender.lastSent(), bytes.size());
                    !text.isEmpty())
                    note(text);
                return CommandRepeat::Outcome::Stop;
            },
            this);
    connect(r.repeat, &CommandRepeat::stopped, this, &CommandPanel::updateSendButtons);
    note({});
    r.repeat->start();
    updateSendButtons();
}

const CommandRepeat *CommandPanel::repeatOf(int row) const
{
    if (row < 0 || size_t(row) >= m_commands.size())
        return nullptr;
    const CommandRepeat *r = m_commands[size_t(row)].repeat;
    return r && r->isRunning() ? r : nullptr;
}

void CommandPanel::stopRepeats()
{
    for (CommandRow &r : m_commands) {
        if (r.repeat)
            r.repeat->stop();
    }
    updateSendButtons();
}

bool CommandPanel::openFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        MessageBoxes::message(this,
                              QStringLiteral("無法開啟 %1 : %2").arg(path, file.errorString()));
        return false;
    }
    const CommandFile::Loaded loaded = CommandFile::load(file.readAll());
    if (!loaded.ok()) {
        MessageBoxes::message(this, QStringLiteral("%1 : %2").arg(path, loaded.error));
        return false;
    }
    setCommands(loaded.contents.commands);
    setRules(loaded.contents.replies);
    return true;
}

bool CommandPanel::saveFile(const QString &path)
{
    // Rows that could not go out are kept as typed; the user mends them later.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(CommandFile::save({commands(), rules()})) < 0
        || !file.commit()) {
        MessageBoxes::message(this,
                              QStringLiteral("無法儲存到 %1 : %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

void CommandPanel::askOpen()
{
    const QString path = FileDialogs::ask(this, {QStringLiteral("開啟命令清單"),
                                                 QStringLiteral("CommandFileDialog"),
                                                 QString::fromUtf8(FileFilter), {}, false},
                                          m_folder);
    if (!path.isEmpty())
        openFile(path);
}

void CommandPanel::askSave()
{
    const QString path = FileDialogs::ask(this, {QStringLiteral("儲存命令清單"),
                                                 QStringLiteral("CommandFileDialog"),
                                                 QString::fromUtf8(FileFilter),
                                                 QStringLiteral("tvcmd"), true},
                                          m_folder);
    if (!path.isEmpty())
        saveFile(path);
}
