// SPDX-License-Identifier: MIT
#include "R2KSession.h"

#include "modes/ByteToKeyEvents.h"
#include "modes/KeyInjection.h"
#include "modes/KeyState.h"
#include "session/ModeFrame.h"
#include "session/ModeHost.h"
#include "session/ReadLoop.h"
#include "traffic/Traffic.h"
#include "widgets/WaitBox.h"

#include <memory>

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

// The received bytes typed as they come, each byte's events sent off before the next byte's.
class Typist : public TrafficConsumer
{
public:
    explicit Typist(KeyInjector &keys) : m_keys(keys) { }
    void take(const TrafficRecord &record) override
    {
        // Flawed bytes are what arrived, and are typed as such.
        if (record.kind == TrafficKind::Received || record.kind == TrafficKind::Flawed)
            typeBytes(reinterpret_cast<const uint8_t *>(record.bytes.constData()),
                      size_t(record.bytes.size()), m_keys);
    }

private:
    KeyInjector &m_keys;
};

// On the screen while the desktop asks the user, so the window is not taken for hung, and
// so the user can give up on a desktop that never asks.
class ConsentPrompt : public KeyInjection::ConsentWait
{
public:
    void begin(std::function<void()> cancel) override
    {
        // Up at once: the desktop's own dialog is already asking.
        m_box = std::make_unique<WaitBox>(
                WaitBox::Look {QStringLiteral("PortalConsentDialog"),
                               QStringLiteral("正在等待桌面同意 TELVIX 送出鍵盤事件…\n"
                                              "請在桌面的詢問視窗中允許遠端控制 (鍵盤)。"),
                               QStringLiteral("取消"), QStringLiteral("CancelButton")},
                std::move(cancel), 0);
    }
    void end() override { m_box.reset(); }

private:
    std::unique_ptr<WaitBox> m_box;
};

} // namespace

void R2KSession::run()
{
    ConsentPrompt prompt;
    KeyInjection::Opened injection = KeyInjection::open(&prompt);
    if (!injection.injector) {
        if (!injection.problem.isEmpty())
            m_host.message(injection.problem);
        return;
    }
    ModeFrame frame(m_host, Mode::R2K);
    SerialPort *port = frame.begin();
    if (!port)
        return;
    for (const char *line : NoticeLines)
        m_host.display().appendLine(QString::fromUtf8(line));
    if (!injection.route.isEmpty())
        m_host.display().appendLine(injection.route);
    if (!injection.notice.isEmpty())
        m_host.message(injection.notice);

    // The bytes still arrive and are kept; only the keys go nowhere. Said once, in the notice.
    injection.injector->onLost([this](const QString &why) {
        m_host.display().appendLine(
                QStringLiteral(
                        " 注意:%1,之後收到的字元不再送出鍵盤事件。請按 (中斷按鈕) 結束 R2K 模式。")
                        .arg(why));
    });
    KeyState keys(*injection.injector);
    Typist typist(keys);
    m_host.traffic().subscribe(&typist);
    ReadLoop::run(*port, m_host.traffic());
    m_host.traffic().unsubscribe(&typist);
    keys.releaseAll();
    frame.end();
}
