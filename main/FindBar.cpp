// SPDX-License-Identifier: MIT
#include "FindBar.h"

#include "main/TrafficView.h"
#include "traffic/FindQuery.h"
#include "widgets/GrowingPanel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>

FindBar::FindBar(TrafficView *view, const DisplayFormatter &shownBy, QWidget *parent)
    : QFrame(parent), m_view(view), m_shownBy(shownBy)
{
    setObjectName(QStringLiteral("FindBar"));
    setAccessibleName(QStringLiteral("尋找列"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(4);

    m_close = new QToolButton(this);
    m_close->setObjectName(QStringLiteral("FindCloseButton"));
    m_close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    m_close->setAutoRaise(true);
    m_close->setToolTip(QStringLiteral("關閉尋找列 (Esc)"));
    m_close->setAccessibleName(QStringLiteral("關閉"));
    m_close->setAccessibleDescription(m_close->toolTip());
    row->addWidget(m_close);

    auto *label = new QLabel(QStringLiteral("尋找:"), this);
    row->addWidget(label);
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("FindEdit"));
    m_edit->setToolTip(QStringLiteral("Enter 找下一個, Shift+Enter 找上一個"));
    label->setBuddy(m_edit);
    m_edit->setAccessibleName(QStringLiteral("尋找"));
    m_edit->installEventFilter(this);
    row->addWidget(m_edit, 1);

    m_hex = new QCheckBox(QStringLiteral("HEX"), this);
    m_hex->setObjectName(QStringLiteral("FindHexCheckBox"));
    m_hex->setToolTip(QStringLiteral("以 16 進制位元組尋找, 例如 0D 0A"));
    row->addWidget(m_hex);
    m_matchCase = new QCheckBox(QStringLiteral("大小寫相符"), this);
    m_matchCase->setObjectName(QStringLiteral("FindMatchCaseCheckBox"));
    row->addWidget(m_matchCase);
    m_previous = new QPushButton(QStringLiteral("上一個"), this);
    m_previous->setObjectName(QStringLiteral("FindPreviousButton"));
    m_previous->setToolTip(QStringLiteral("Shift+F3"));
    row->addWidget(m_previous);
    m_next = new QPushButton(QStringLiteral("下一個"), this);
    m_next->setObjectName(QStringLiteral("FindNextButton"));
    m_next->setToolTip(QStringLiteral("F3"));
    row->addWidget(m_next);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("FindStatus"));
    m_status->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("已從尾端找起")));
    row->addWidget(m_status);

    m_slice.setSingleShot(true);
    m_slice.setInterval(0);
    connect(&m_slice, &QTimer::timeout, this, &FindBar::step);
    connect(m_edit, &QLineEdit::textEdited, this, &FindBar::searchAsTyped);
    connect(m_hex, &QCheckBox::toggled, this, &FindBar::searchAsTyped);
    connect(m_matchCase, &QCheckBox::toggled, this, &FindBar::searchAsTyped);
    connect(m_previous, &QPushButton::clicked, this, &FindBar::findPrevious);
    connect(m_next, &QPushButton::clicked, this, &FindBar::findNext);
    connect(m_close, &QToolButton::clicked, this, &FindBar::close);
    // Cleared or given other text: what was found, and where a search stood, are gone.
    connect(m_view, &TrafficView::foundRangeDropped, this, [this] {
        m_search.reset();
        m_slice.stop();
        m_origin = {};
        setStatus({});
    });
    setVisible(false);
}

void FindBar::addShortcutsTo(QWidget *window)
{
    m_shortcuts = {new QShortcut(QKeySequence::Find, window), new QShortcut(Qt::Key_F3, window),
                   new QShortcut(Qt::SHIFT | Qt::Key_F3, window)};
    connect(m_shortcuts[0], &QShortcut::activated, this, &FindBar::open);
    connect(m_shortcuts[1], &QShortcut::activated, this, &FindBar::findNext);
    connect(m_shortcuts[2], &QShortcut::activated, this, &FindBar::findPrevious);
}

void FindBar::yieldKeys(const QList<QKeySequence> &taken)
{
    for (QShortcut *s : m_shortcuts)
        s->setEnabled(!taken.contains(s->key()));
}

void FindBar::setShown(bool shown) { GrowingPanel::setShown(this, shown); }

void FindBar::open()
{
    if (!isVisible()) {
        m_origin = viewTop();
        setShown(true);
    }
    m_edit->setFocus(Qt::ShortcutFocusReason);
    m_edit->selectAll();
}

void FindBar::close()
{
    m_search.reset();
    m_slice.stop();
    m_view->setFoundRange(std::nullopt);
    setStatus({});
    setShown(false);
    m_view->setFocus();
}

TextPosition FindBar::viewTop() const { return {m_view->positionAt(QPoint(0, 0)).line, 0}; }

QString FindBar::statusText() const { return m_status->text(); }

void FindBar::setStatus(const QString &text)
{
    m_status->setText(text);
    m_status->setAccessibleName(text);
}

std::optional<QString> FindBar::needle()
{
    const QString typed = m_edit->text();
    if (!m_hex->isChecked())
        return typed;
    QString error;
    const std::optional<QByteArray> bytes = FindQuery::hexBytes(typed, &error);
    std::optional<QString> shown =
            bytes ? FindQuery::shownText(*bytes, m_shownBy, &error) : std::nullopt;
    if (!shown)
        setStatus(error);
    return shown;
}

void FindBar::start(TextPosition from, bool backward)
{
    m_slice.stop();
    m_search.reset();
    const std::optional<QString> text = needle();
    if (!text || text->isEmpty()) {
        m_view->setFoundRange(std::nullopt);
        if (text)
            setStatus({});
        return;
    }
    TextSearch::Options options;
    options.backward = m_backward = backward;
    options.caseSensitive = m_matchCase->isChecked();
    options.wrap = true;
    m_search.emplace(*text, from, options);
    step();
}

void FindBar::searchAsTyped() { start(m_origin, false); }

void FindBar::findNext()
{
    if (!isVisible())
        open();
    const std::optional<TextRange> found = m_view->foundRange();
    start(found ? found->to : m_origin, false);
}

void FindBar::findPrevious()
{
    if (!isVisible())
        open();
    const std::optional<TextRange> found = m_view->foundRange();
    start(found ? found->from : m_origin, true);
}

void FindBar::step()
{
    if (!m_search)
        return;
    switch (m_search->run(m_view->text(), SliceCharacters)) {
    case TextSearch::State::Running:
        setStatus(QStringLiteral("搜尋中…"));
        m_slice.start();
        return;
    case TextSearch::State::NotFound:
        m_view->setFoundRange(std::nullopt);
        setStatus(QStringLiteral("找不到"));
        break;
    case TextSearch::State::Found: {
        const TextRange match = m_search->match();
        m_origin = match.from;
        m_view->setFoundRange(match);
        m_view->scrollToPosition(match.from);
        setStatus(!m_search->wrapped() ? QString()
                          : m_backward ? QStringLiteral("已從尾端找起")
                                       : QStringLiteral("已從頭找起"));
        break;
    }
    }
    m_search.reset();
}

bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_edit && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers().testFlag(Qt::ShiftModifier))
                findPrevious();
            else
                findNext();
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void FindBar::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QFrame::keyPressEvent(event);
}
