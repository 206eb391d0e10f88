// SPDX-License-Identifier: MIT
#include "MessageBoxes.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

namespace MessageBoxes {

namespace {
Hook &hook()
{
    static Hook h;
    return h;
}
Answer &answer()
{
    static Answer a;
    return a;
}

// The forms' Chinese font sets its lines with no leading, so that the glyphs of two lines touch;
// the message is set as rich text with room between its lines instead.
QString spacedLines(const QString &text)
{
    QString html = QStringLiteral("<p style=\"line-height:150%; white-space:pre-wrap\">");
    html += text.toHtmlEscaped().replace(u'\n', QStringLiteral("<br>"));
    html += QStringLiteral("</p>");
    return html;
}

int showBox(Kind kind, QWidget *parent, const QString &text)
{
    const std::unique_ptr<QMessageBox> box = build(kind, parent, text);
    return box->exec();
}
} // namespace

void setHook(Hook h, Answer a)
{
    hook() = std::move(h);
    answer() = std::move(a);
}

QString applicationTitle() { return QStringLiteral("TELVIX"); }

QString withFullStop(const QString &text) { return text.endsWith(u'.') ? text : text + u'.'; }

std::unique_ptr<QMessageBox> build(Kind kind, QWidget *parent, const QString &text)
{
    const QMessageBox::Icon icon = kind == Kind::Error ? QMessageBox::Critical : QMessageBox::NoIcon;
    auto box = std::make_unique<QMessageBox>(icon, applicationTitle(), QString(), QMessageBox::Ok,
                                             parent);
    box->setTextFormat(Qt::RichText);
    box->setText(spacedLines(text));
    if (kind == Kind::Question) {
        box->setIcon(QMessageBox::Question);
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::No);
        box->setEscapeButton(QMessageBox::No);
        box->button(QMessageBox::Yes)->setText(QStringLiteral("是"));
        box->button(QMessageBox::No)->setText(QStringLiteral("否"));
    } else {
        box->button(QMessageBox::Ok)->setText(QStringLiteral("確定"));
    }
    // Wide enough that a window manager can show the title whole above a one-word message.
    const int minimumWidth =
            std::max(260, box->fontMetrics().horizontalAdvance(applicationTitle()) + 160);
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout()))
        grid->addItem(new QSpacerItem(minimumWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    return box;
}

void message(QWidget *parent, const QString &text)
{
    if (hook()) {
        hook()({Kind::Plain, applicationTitle(), text});
        return;
    }
    showBox(Kind::Plain, parent, text);
}

bool question(QWidget *parent, const QString &text)
{
    if (hook()) {
        const Shown shown {Kind::Question, applicationTitle(), text};
        hook()(shown);
        return answer() && answer()(shown);
    }
    const std::unique_ptr<QMessageBox> box = build(Kind::Question, parent, text);
    return box->exec() == QMessageBox::Yes;
}

void errorBox(QWidget *parent, const QString &text)
{
    const QString shown = withFullStop(text);
    if (hook()) {
        hook()({Kind::Error, applicationTitle(), shown});
        return;
    }
    showBox(Kind::Error, parent, shown);
}

void beep()
{
    if (hook()) {
        hook()({Kind::Beep, QString(), QString()});
        return;
    }
    QApplication::beep();
}

} // namespace MessageBoxes
