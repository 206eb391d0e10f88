// SPDX-License-Identifier: MIT
// What the benchmarks that drive the real window share: the pseudo-terminal they feed, and
// starting a live log through its menu as a user would.
#pragma once

#include "main/Telvixmain1.h"
#include "TForm1Controls.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QString>
#include <QTimer>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace bench {

// A pseudo-terminal whose master the benchmark writes, non-blocking; the window opens `slave`.
// master < 0 when none could be had.
struct PtyLine
{
    int master = -1;
    QString slave;
    PtyLine()
    {
        int s = -1;
        char name[128] = {};
        if (openpty(&master, &s, name, nullptr, nullptr) != 0) {
            master = -1;
            return;
        }
        ::close(s);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        slave = QString::fromLocal8Bit(name);
    }
    ~PtyLine()
    {
        if (master >= 0)
            ::close(master);
    }
    PtyLine(const PtyLine &) = delete;
    PtyLine &operator=(const PtyLine &) = delete;
};

// Starts the live log through its menu command, answering the save dialog with `path`.
inline void startLiveLog(const QString &path)
{
    QTimer::singleShot(0, [path] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->selectFile(path);
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(path);
        static_cast<QDialog *>(dialog)->accept();
    });
    TForm1Controls(Form1).StartLogMenuBar->trigger();
}

} // namespace bench
