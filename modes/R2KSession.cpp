// SPDX-License-Identifier: MIT
#include "R2KSession.h"

#include "main/ModeFrame.h"
#include "main/ModeHost.h"
#include "main/ReadLoop.h"
#include "main/Traffic.h"
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

} // namespace

void R2KSession::run()
{
    KeyInjection::Opened injection = KeyInjection::open();
    if (!injection.injector) {
        m_host.message(injection.problem);
        return;
    }
    ModeFrame frame(m_host, Mode::R2K);
    SerialPort *port = frame.begin();
    if (!port)
        return;
    for (const char *line : NoticeLines)
        m_host.display().appendLine(QString::fromUtf8(line));
    if (!injection.notice.isEmpty())
        m_host.message(injection.notice);

    KeyState keys(*injection.injector);
    Typist typist(keys);
    m_host.traffic().subscribe(&typist);
    ReadLoop::run(*port, m_host.traffic());
    m_host.traffic().unsubscribe(&typist);
    keys.releaseAll();
    frame.end();
}
