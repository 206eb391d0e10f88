// SPDX-License-Identifier: MIT
#include "widgets/Fonts.h"
#include "main/Translations.h"
#include "main/Forms.h"
#include "traffic/LiveLog.h"
#include "widgets/MessageBoxes.h"
#include "main/Telvixmain1.h"
#include "modes/ScriptCommandLine.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>

#ifndef TELVIX_VERSION
#    define TELVIX_VERSION "3.6"
#endif
#ifndef TELVIX_BUILD
#    define TELVIX_BUILD "unknown"
#endif

namespace {

constexpr const char *VersionText = "TELVIX " TELVIX_VERSION "\n"
                                    "組建 build: " TELVIX_BUILD "\n";

constexpr const char *HelpText =
        "用法 Usage: telvix [--help | --version | --run SCRIPT.lua [OPTIONS] [-- ARGS...]]\n"
        "\n"
        "RS232 串列埠測試工具：接收、檔案傳送、字串傳送、通訊模式與 R2K 模式。\n"
        "An RS232 serial line tester: receive, file send, string send, terminal and R2K "
        "modes.\n"
        "每次啟動，所有設定都從預設值開始。\n"
        "Every setting starts from its default at each start.\n"
        "\n"
        "  -h, --help     顯示這段說明後結束      show this help and exit\n"
        "  -v, --version  顯示版本與組建後結束    show the version and build and exit\n";

bool printed(const char *text) { return std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0; }

// The command line is read before QApplication exists, so that --help and --version need no
// display, and so that Qt's own options (-platform, -style, ...) cannot change how the
// program looks or behaves: the program takes no settings from outside.
// Returns the exit code when the program is to end here.
std::optional<int> handleArguments(int argc, char *argv[])
{
    bool help = false;
    bool version = false;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            help = true;
        } else if (std::strcmp(a, "--version") == 0 || std::strcmp(a, "-v") == 0) {
            version = true;
        } else {
            std::fprintf(stderr,
                         "telvix: 無法辨識的參數 unknown argument: '%s'\n"
                         "請用 Try: telvix --help\n",
                         a);
            return 2;
        }
    }
    if (help)
        return printed(HelpText) && printed(ScriptCommandLine::HelpText) ? 0 : 1;
    if (version)
        return printed(VersionText) ? 0 : 1;
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    if (ScriptCommandLine::asked(argc, argv))
        return ScriptCommandLine::run(argc, argv);
    if (const std::optional<int> code = handleArguments(argc, argv))
        return *code;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TELVIX"));
    QApplication::setApplicationVersion(QStringLiteral(TELVIX_VERSION));
    // Lets a Wayland compositor and the task bar match the window with its menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("telvix"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/telvix.svg")));
    Fonts::installSubstitutions();
    Translations::install();
    QApplication::setFont(Fonts::ming());
    int code = 0;
    try {
        Forms::createAll();
        Form1->show();
        code = app.exec();
    } catch (const std::exception &e) {
        MessageBoxes::errorBox(nullptr, QString::fromLocal8Bit(e.what()));
        // A window that could not be set up is a failure to whoever started the program.
        code = 1;
    }
    Forms::destroyAll();
    // A log stopped with its file still taking the rest is written to its end.
    LiveLog::finishAll(10000);
    return code;
}
