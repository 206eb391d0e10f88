// SPDX-License-Identifier: MIT
#include "ScriptWindow.h"

#include "widgets/CodeEditor.h"
#include "widgets/FileDialogs.h"
#include "widgets/Fonts.h"
#include "widgets/MessageBoxes.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QSplitter>
#include <QVBoxLayout>

namespace {

constexpr const char *FileFilter = "Lua 腳本 (*.lua)";
constexpr const char *Title = "腳本模式";

QPushButton *button(QWidget *parent, const char *name, const QString &text, const QString &tip,
                    const QKeySequence &key)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromUtf8(name));
    b->setShortcut(key);
    b->setToolTip(QStringLiteral("%1 (%2)").arg(tip, key.toString(QKeySequence::NativeText)));
    b->setAccessibleName(text);
    return b;
}

} // namespace

ScriptWindow::ScriptWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("ScriptWindow"));
    setWindowTitle(QString::fromUtf8(Title));
    setFont(Fonts::ming());
    resize(560, 520);

    auto *open = button(this, "ScriptOpenButton", QStringLiteral("開啟"),
                        QStringLiteral("開啟腳本檔"), QKeySequence::Open);
    auto *save = button(this, "ScriptSaveButton", QStringLiteral("儲存"),
                        QStringLiteral("儲存腳本檔"), QKeySequence::Save);
    m_run = button(this, "ScriptRunButton", QStringLiteral("執行"),
                   QStringLiteral("以串列埠參數開啟埠並執行腳本"),
                   QKeySequence(Qt::CTRL | Qt::Key_R));
    m_stop = button(this, "ScriptStopButton", QStringLiteral("停止"),
                    QStringLiteral("停止腳本並中斷連線"), QKeySequence(Qt::CTRL | Qt::Key_Period));
    m_stop->setEnabled(false);
    auto *argumentsLabel = new QLabel(QStringLiteral("參數 :"), this);
    m_arguments = new QLineEdit(this);
    m_arguments->setObjectName(QStringLiteral("ScriptArgsEdit"));
    m_arguments->setAccessibleName(QStringLiteral("參數"));
    m_arguments->setToolTip(QStringLiteral("腳本的 arg,以空白分隔"));
    argumentsLabel->setBuddy(m_arguments);

    auto *buttons = new QHBoxLayout;
    for (QWidget *w : std::initializer_list<QWidget *> {open, save, m_run, m_stop})
        buttons->addWidget(w);
    buttons->addSpacing(8);
    buttons->addWidget(argumentsLabel);
    buttons->addWidget(m_arguments, 1);

    m_editor = new CodeEditor(this);
    m_editor->setObjectName(QStringLiteral("ScriptEditor"));
    m_editor->setAccessibleName(QStringLiteral("腳本"));
    m_editor->setFont(Fonts::mingFixed(13));
    m_editor->setPlaceholderText(
            QStringLiteral("-- Lua 5.4\nsend(\"AT\\r\")\nif not expect(\"OK\", 1000) then "
                           "fail(\"沒有回應\") end\npass()"));
    m_output = new QPlainTextEdit(this);
    m_output->setObjectName(QStringLiteral("ScriptOutput"));
    m_output->setAccessibleName(QStringLiteral("腳本輸出"));
    m_output->setReadOnly(true);
    m_output->setFont(Fonts::mingFixed(13));
    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_editor);
    split->addWidget(m_output);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);

    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("ScriptResultLabel"));
    m_result->setAccessibleName(QStringLiteral("結果"));
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_result->setWordWrap(true);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(split, 1);
    layout->addWidget(m_result);

    connect(open, &QPushButton::clicked, this, &ScriptWindow::askOpen);
    connect(save, &QPushButton::clicked, this, [this] {
        if (m_path.isEmpty())
            askSave();
        else
            saveFile(m_path);
    });
    connect(m_run, &QPushButton::clicked, this, &ScriptWindow::runRequested);
    connect(m_stop, &QPushButton::clicked, this, &ScriptWindow::stopRequested);
    connect(m_editor->document(), &QTextDocument::modificationChanged, this,
            [this](bool modified) { setWindowModified(modified); });
    setPath({});
}

QByteArray ScriptWindow::source() const { return m_editor->toPlainText().toUtf8(); }

QString ScriptWindow::scriptName() const
{
    return m_path.isEmpty() ? QStringLiteral("腳本") : QFileInfo(m_path).fileName();
}

QStringList ScriptWindow::arguments() const { return QProcess::splitCommand(m_arguments->text()); }

void ScriptWindow::setPath(const QString &path)
{
    m_path = path;
    setWindowTitle(QStringLiteral("%1 - %2[*]")
                           .arg(QString::fromUtf8(Title),
                                path.isEmpty() ? QStringLiteral("未命名") : scriptName()));
}

bool ScriptWindow::openFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        MessageBoxes::message(this,
                              QStringLiteral("無法開啟 %1 : %2").arg(path, file.errorString()));
        return false;
    }
    const QByteArray bytes = file.readAll();
    QString text = QString::fromUtf8(bytes);
    // Lua reads bytes; the editor holds text. A file that is not UTF-8 would come back from the
    // editor changed, so it is not taken.
    if (text.toUtf8() != bytes) {
        MessageBoxes::message(this, QStringLiteral("%1 不是 UTF-8 文字檔,無法編輯").arg(path));
        return false;
    }
    m_editor->setPlainText(text);
    m_editor->document()->setModified(false);
    setPath(path);
    return true;
}

bool ScriptWindow::saveFile(const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(source()) < 0 || !file.commit()) {
        MessageBoxes::message(this,
                              QStringLiteral("無法儲存到 %1 : %2").arg(path, file.errorString()));
        return false;
    }
    m_editor->document()->setModified(false);
    setPath(path);
    return true;
}

void ScriptWindow::askOpen()
{
    if (m_editor->document()->isModified()
        && !MessageBoxes::question(this, QStringLiteral("腳本已修改,仍要開啟另一個檔案嗎?")))
        return;
    const QString path = FileDialogs::ask(this,
                                          {QStringLiteral("開啟腳本"),
                                           QStringLiteral("ScriptFileDialog"),
                                           QString::fromUtf8(FileFilter),
                                           {},
                                           false},
                                          m_folder);
    if (!path.isEmpty())
        openFile(path);
}

void ScriptWindow::askSave()
{
    const QString path =
            FileDialogs::ask(this,
                             {QStringLiteral("儲存腳本"), QStringLiteral("ScriptFileDialog"),
                              QString::fromUtf8(FileFilter), QStringLiteral("lua"), true},
                             m_folder);
    if (!path.isEmpty())
        saveFile(path);
}

void ScriptWindow::runStarted()
{
    m_output->clear();
    m_editor->markLine(0);
    m_result->setStyleSheet({});
    m_result->setText(QStringLiteral("執行中…"));
    m_stop->setEnabled(true);
}

void ScriptWindow::appendOutput(const QString &line) { m_output->appendPlainText(line); }

void ScriptWindow::runFinished(const std::optional<ScriptEngine::Result> &result)
{
    m_stop->setEnabled(false);
    if (!result) {
        m_result->setText(QStringLiteral("未執行 : 無法開啟埠"));
        return;
    }
    using Outcome = ScriptEngine::Outcome;
    const auto withMessage = [&](const QString &word) {
        return result->message.isEmpty() ? word
                                         : QStringLiteral("%1 : %2").arg(word, result->message);
    };
    QString colour = QStringLiteral("darkred");
    switch (result->outcome) {
    case Outcome::Pass:
        m_result->setText(withMessage(QStringLiteral("通過")));
        colour = QStringLiteral("darkgreen");
        break;
    case Outcome::Fail:
        m_result->setText(withMessage(QStringLiteral("失敗")));
        break;
    case Outcome::Error:
        m_result->setText(withMessage(QStringLiteral("錯誤")));
        m_editor->markLine(result->line);
        break;
    case Outcome::Stopped:
        m_result->setText(QStringLiteral("已停止"));
        colour = QString();
        break;
    }
    m_result->setStyleSheet(colour.isEmpty() ? QString()
                                             : QStringLiteral("QLabel { color: %1; }").arg(colour));
}

QString ScriptWindow::resultText() const { return m_result->text(); }

QString ScriptWindow::output() const { return m_output->toPlainText(); }

void ScriptWindow::showBeside(QWidget *window)
{
    if (!m_placed && window) {
        m_placed = true;
        QRect frame = frameGeometry();
        frame.moveTopLeft(window->frameGeometry().topRight() + QPoint(8, 0));
        if (const QScreen *s = window->screen()) {
            const QRect room = s->availableGeometry();
            // Over the main window's right edge rather than off the screen.
            if (frame.right() > room.right())
                frame.moveRight(room.right());
            if (frame.bottom() > room.bottom())
                frame.moveBottom(room.bottom());
        }
        move(frame.topLeft());
    }
    show();
    raise();
    activateWindow();
}
