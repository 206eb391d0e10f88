// SPDX-License-Identifier: MIT
// R2K mode: every character from the line becomes keystrokes in whatever window has the focus.
#include "main/Telvixmain1.h"

#include "main/MessageBoxes.h"
#include "main/ModeFrame.h"
#include "main/ReadLoop.h"
#include "main/TrafficView.h"
#include "modes/ByteToKeyEvents.h"
#include "modes/KeyInjection.h"
#include "modes/KeyState.h"

namespace {

// Shown for the whole run instead of the traffic, which this mode does not display.
constexpr const char *NoticeLines[] = {
        " ",
        " 注意 : R 2 K 模式,已經啟動連線",
        " 所有讀入之 RS232 字元資料",
        " 將被轉換成 => IBM (Keyboard) 按鍵字元對應事件",
        " =============================================",
        " 1,不可見字元 (00 ~ 1F) 控制碼傳送對應事件,請參考 (IBM PC ASCII 控制碼表)",
        " 2,(80h) 以後的字碼,即中文字符及全型等字碼(無作用)",
        " 3,可見字元符號之轉換對應,請參考IBM ASCII 字碼表",
        " 4,結束R2K 模式....請按 (中斷按鈕)",
        " 5,RS232字元間隔連續傳送時間,建議大於1ms以上,以確保鍵盤事件接收的穩定",
};

} // namespace

void TForm1::EnableR2KModeMenubarClick()
{
    // Without a way to type there is no mode: say so before the port or the window is touched.
    KeyInjection::Opened injection = KeyInjection::open();
    if (!injection.injector) {
        MessageBoxes::message(this, injection.problem);
        return;
    }
    ModeFrame frame(*this, Mode::R2K);
    if (!frame.begin())
        return;
    for (const char *line : NoticeLines)
        memo1()->appendLine(QString::fromUtf8(line));
    if (!injection.notice.isEmpty())
        MessageBoxes::message(this, injection.notice);

    KeyState keys(*injection.injector);
    ReadLoop::run([&keys](const uint8_t *bytes, size_t count) { typeBytes(bytes, count, keys); });
    keys.releaseAll();
    frame.end();
}
