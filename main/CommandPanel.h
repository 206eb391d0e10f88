// SPDX-License-Identifier: MIT
// The command list and the auto-replies: a panel at the foot of the window, hidden at start.
//
// A row of the list is a command: its name, its content as text or hex, the check appended
// after it and from which byte, its ending, a repeat period and a key. 送出, the key or Enter on
// the row sends it once, or starts and stops its repeat, while receive or terminal mode runs;
// the bytes go out through the mode's port and cross the traffic stream as what every send
// writes. The second tab holds the rules TELVIX answers a device by.
//
// Hidden, it does nothing: no keys, no answers, nothing shown that the display did not show.
#pragma once

#include "send/AutoReply.h"
#include "send/AutoResponder.h"
#include "send/CommandList.h"
#include "send/CommandSender.h"

#include <QFrame>
#include <QTimer>

#include <memory>
#include <vector>

class CommandRepeat;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QShortcut;
class QSpinBox;
class QTabWidget;
class SerialPort;
class TrafficStream;

class CommandPanel : public QFrame
{
    Q_OBJECT

public:
    CommandPanel(TrafficStream &traffic, QWidget *parent = nullptr);
    ~CommandPanel() override;

    // Receive or terminal mode began with `port`; null: it ended (every repeat stops).
    void attach(SerialPort *port);

    // What receive mode is to show of what the panel sends.
    bool showsSent() const;
    // Rules are answering: the display's passes then follow the reads, not the screen, so
    // that an answer does not wait for a frame.
    bool answering() const;

    std::vector<CommandList::Command> commands() const;
    void setCommands(const std::vector<CommandList::Command> &commands);
    std::vector<AutoReply::Rule> rules() const;
    void setRules(const std::vector<AutoReply::Rule> &rules);

    // What 開啟 and 儲存 do once the user has picked the file; false when it failed, the user
    // told why (a file that is no list loads nothing).
    bool openFile(const QString &path);
    bool saveFile(const QString &path);

    // 送出 of a row: once, or its repeat started or stopped.
    void fire(int row);
    // The repeat of a row while it runs, else null.
    const CommandRepeat *repeatOf(int row) const;
    const AutoResponder &responder() const { return m_responder; }

    // The keys the commands take from the window while the panel shows.
    QList<QKeySequence> keysTaken() const;

    static constexpr const char *NoModeTip = CommandSender::NoPortText;

signals:
    void keysChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct CommandRow
    {
        QPushButton *send;
        QLineEdit *name;
        QCheckBox *hex;
        QLineEdit *content;
        QComboBox *check;
        QSpinBox *from;
        QComboBox *ending;
        QSpinBox *repeatMs;
        QComboBox *key;
        QShortcut *shortcut = nullptr;
        CommandRepeat *repeat = nullptr;
    };
    struct ReplyRow
    {
        QCheckBox *on;
        QLineEdit *name;
        QLabel *hits;
        QComboBox *match;
        QLineEdit *pattern;
        QCheckBox *hex;
        QLineEdit *reply;
        QComboBox *check;
        QSpinBox *from;
        QComboBox *ending;
        QSpinBox *delayMs;
        QSpinBox *perSecond;
    };

    QWidget *makeCommandsTab();
    QWidget *makeRepliesTab();
    void addCommandRow(const CommandList::Command &c);
    void addReplyRow(const AutoReply::Rule &r);
    CommandList::Command commandAt(int row) const;
    AutoReply::Rule ruleAt(int row) const;
    int currentCommand() const;
    void moveCommand(int by);
    void removeCommand();
    void removeRule();
    void stopRepeats();
    void updateSendButtons();
    void updateShortcuts();
    CommandSender::Result sendCommand(int row, const CommandList::Command &c);
    void toggleRepeat(int row);
    // The rules as they stand go to the responder; a bad one is said and the old ones stay.
    void applyRules();
    void follow(); // answering while attached and shown
    void showHits();
    void note(const QString &text);
    void askOpen();
    void askSave();

    TrafficStream &m_traffic;
    CommandSender m_sender;
    AutoResponder m_responder {m_sender};
    bool m_following = false;
    QTabWidget *m_tabs = nullptr;
    QGridLayout *m_commandGrid = nullptr;
    QGridLayout *m_replyGrid = nullptr;
    std::vector<CommandRow> m_commands;
    std::vector<ReplyRow> m_replies;
    int m_current = -1; // the command row whose field has (or last had) the focus
    int m_currentRule = -1; // the same of the rules
    QCheckBox *m_showSent = nullptr;
    QLabel *m_note = nullptr;
    QLabel *m_replyNote = nullptr;
    QTimer m_rulesEdited; // the rules go to the responder once typing pauses
    QTimer m_hitsTimer;
    QString m_folder; // where the file dialog was last confirmed
};
