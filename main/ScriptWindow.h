// SPDX-License-Identifier: MIT
// The script window: a window of its own beside the main window, not modal, so the display
// and the line panel stay in view while a script runs. The editor with its line numbers, 開啟
// / 儲存 / 執行 / 停止, the arguments, the script's output and its result. 執行 asks the main
// window to run the script in script mode; the window only shows what the run tells it.
#pragma once

#include "script/ScriptEngine.h"

#include <QWidget>

#include <optional>

class CodeEditor;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class ScriptWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ScriptWindow(QWidget *parent = nullptr);

    CodeEditor *editor() const { return m_editor; }
    // The script as it stands in the editor, and its name in messages (the file's).
    QByteArray source() const;
    QString scriptName() const;
    // The script's `arg`: the arguments box split at blanks, "quoted" ones kept whole.
    QStringList arguments() const;

    // What 開啟 and 儲存 do once the path is known; false when it failed, the user told why.
    bool openFile(const QString &path);
    bool saveFile(const QString &path);

    // The run as it goes: begun, a line of the script's output, its end (nothing when the
    // port did not open and the script never ran).
    void runStarted();
    void appendOutput(const QString &line);
    void runFinished(const std::optional<ScriptEngine::Result> &result);

    QString resultText() const;
    QString output() const;

    // Beside the main window the first time, where the user left it after.
    void showBeside(QWidget *window);

signals:
    void runRequested();
    void stopRequested();

private:
    void askOpen();
    void askSave();
    void setPath(const QString &path);

    CodeEditor *m_editor;
    QLineEdit *m_arguments;
    QPlainTextEdit *m_output;
    QLabel *m_result;
    QPushButton *m_run;
    QPushButton *m_stop;
    QString m_path;
    QString m_folder;
    bool m_placed = false;
};
