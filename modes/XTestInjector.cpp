// SPDX-License-Identifier: MIT
#include "XTestInjector.h"

#include <QStringList>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdlib>
#include <cstring>

namespace {

struct KeysymOfKey
{
    uint8_t virtualKey;
    // The keysym of the key on a US keyboard, and what stands in when the server lacks it.
    KeySym keysyms[2];
};

// Letters, digits and the OEM keys are given by their unshifted keysym: that finds the key,
// and the tables add Shift where the character needs it.
constexpr KeysymOfKey KeysymTable[] = {
        {0x08, {XK_BackSpace}},
        {0x09, {XK_Tab}},
        // Clear is the unlit keypad 5; many X keymaps have only its KP_Begin.
        {0x0C, {XK_Clear, XK_KP_Begin}},
        {0x0D, {XK_Return}},
        {0x10, {XK_Shift_L}},
        {0x11, {XK_Control_L}},
        {0x12, {XK_Alt_L, XK_Meta_L}},
        {0x14, {XK_Caps_Lock}},
        {0x1B, {XK_Escape}},
        {0x20, {XK_space}},
        {0x24, {XK_Home}},
        {0x2A, {XK_Print}},
        {0x2D, {XK_Insert}},
        {0x30, {XK_0}},
        {0x31, {XK_1}},
        {0x32, {XK_2}},
        {0x33, {XK_3}},
        {0x34, {XK_4}},
        {0x35, {XK_5}},
        {0x36, {XK_6}},
        {0x37, {XK_7}},
        {0x38, {XK_8}},
        {0x39, {XK_9}},
        {0x41, {XK_a}},
        {0x42, {XK_b}},
        {0x43, {XK_c}},
        {0x44, {XK_d}},
        {0x45, {XK_e}},
        {0x46, {XK_f}},
        {0x47, {XK_g}},
        {0x48, {XK_h}},
        {0x49, {XK_i}},
        {0x4A, {XK_j}},
        {0x4B, {XK_k}},
        {0x4C, {XK_l}},
        {0x4D, {XK_m}},
        {0x4E, {XK_n}},
        {0x4F, {XK_o}},
        {0x50, {XK_p}},
        {0x51, {XK_q}},
        {0x52, {XK_r}},
        {0x53, {XK_s}},
        {0x54, {XK_t}},
        {0x55, {XK_u}},
        {0x56, {XK_v}},
        {0x57, {XK_w}},
        {0x58, {XK_x}},
        {0x59, {XK_y}},
        {0x5A, {XK_z}},
        {0x70, {XK_F1}},
        {0x71, {XK_F2}},
        {0x72, {XK_F3}},
        {0x73, {XK_F4}},
        {0x74, {XK_F5}},
        {0x75, {XK_F6}},
        {0x76, {XK_F7}},
        {0x77, {XK_F8}},
        {0x78, {XK_F9}},
        {0x79, {XK_F10}},
        {0x7A, {XK_F11}},
        {0x7B, {XK_F12}},
        {0xBA, {XK_semicolon}},
        {0xBB, {XK_equal}},
        {0xBC, {XK_comma}},
        {0xBD, {XK_minus}},
        {0xBE, {XK_period}},
        {0xBF, {XK_slash}},
        {0xC0, {XK_grave}},
        {0xDB, {XK_bracketleft}},
        {0xDC, {XK_backslash}},
        {0xDD, {XK_bracketright}},
        {0xDE, {XK_apostrophe}},
};

bool envSet(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
}

bool waylandSession()
{
    const char *type = std::getenv("XDG_SESSION_TYPE");
    return envSet("WAYLAND_DISPLAY") || (type && std::strcmp(type, "wayland") == 0);
}

// The first layout and variant of the session, from the names the XKB rules were given.
// Empty when the server does not publish them.
QString sessionLayout(Display *display)
{
    const Atom names = XInternAtom(display, "_XKB_RULES_NAMES", True);
    if (names == None)
        return {};
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, DefaultRootWindow(display), names, 0, 1024, False, XA_STRING,
                           &type, &format, &count, &after, &data)
                != Success
        || !data) {
        return {};
    }
    // rules, model, layout, variant, options: strings one after the other, NUL between them.
    QStringList fields;
    const char *p = reinterpret_cast<const char *>(data);
    const char *end = p + count;
    while (p < end) {
        const size_t length = strnlen(p, size_t(end - p));
        fields.append(QString::fromLatin1(p, qsizetype(length)));
        p += length + 1;
    }
    XFree(data);
    if (fields.size() < 3)
        return {};
    const QString layout = fields[2].section(u',', 0, 0);
    const QString variant = fields.size() > 3 ? fields[3].section(u',', 0, 0) : QString();
    return variant.isEmpty() ? layout : layout + u'(' + variant + u')';
}

QString displayName() { return QString::fromLocal8Bit(std::getenv("DISPLAY")); }

} // namespace

KeyInjection::Opened XTestInjector::open()
{
    KeyInjection::Opened result;
    if (!envSet("DISPLAY")) {
        result.problem = waylandSession()
                ? QStringLiteral("無法啟動 R2K 模式:這是 Wayland 工作階段,沒有可用的 X 顯示 "
                                 "(XWayland),原生 Wayland 視窗收不到模擬的鍵盤事件。")
                : QStringLiteral("無法啟動 R2K 模式:沒有可用的 X 顯示 (未設定 DISPLAY),"
                                 "無法送出鍵盤事件。");
        return result;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        result.problem = QStringLiteral("無法啟動 R2K 模式:無法連線到 X 顯示 %1,無法送出鍵盤事件。")
                                 .arg(displayName());
        return result;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        result.problem = QStringLiteral("無法啟動 R2K 模式:X 顯示 %1 不支援 XTEST 擴充功能,"
                                        "無法送出鍵盤事件。")
                                 .arg(displayName());
        return result;
    }
    std::unique_ptr<XTestInjector> injector(new XTestInjector(display));
    QStringList missing;
    for (const KeysymOfKey &key : KeysymTable) {
        for (KeySym keysym : key.keysyms) {
            if (keysym == NoSymbol)
                break;
            if (const KeyCode code = XKeysymToKeycode(display, keysym)) {
                injector->m_keycodes[key.virtualKey] = code;
                break;
            }
        }
        if (injector->m_keycodes[key.virtualKey] == 0)
            missing.append(QString::fromLatin1(XKeysymToString(key.keysyms[0])));
    }

    QStringList notes;
    if (waylandSession()) {
        notes.append(QStringLiteral("注意:這是 Wayland 工作階段,只有 X11 (XWayland) "
                                    "程式收得到 R2K 模式的鍵盤事件。"));
    }
    const QString layout = sessionLayout(display);
    if (!layout.isEmpty() && layout != QLatin1String("us")) {
        notes.append(QStringLiteral("注意:目前的鍵盤配置是 %1,不是美式 (us)。R2K "
                                    "模式依美式鍵盤送出按鍵,標點符號等字元可能會打成別的字元。")
                             .arg(layout));
    }
    if (!missing.isEmpty()) {
        notes.append(QStringLiteral("注意:目前的鍵盤配置沒有這些按鍵,對應的字碼不會產生鍵盤事件:%1")
                             .arg(missing.join(QStringLiteral(", "))));
    }
    result.notice = notes.join(u'\n');
    result.injector = std::move(injector);
    return result;
}

XTestInjector::~XTestInjector() { XCloseDisplay(m_display); }

void XTestInjector::inject(const KeyEvent &event)
{
    // The virtual key decides: the scan codes of the tables are those of a US keyboard and
    // add nothing once the key is known (01h's Enter carries the scan code of SysRq).
    const KeyCode code = m_keycodes[event.virtualKey];
    if (code == 0)
        return;
    XTestFakeKeyEvent(m_display, code, event.isRelease() ? False : True, CurrentTime);
}

void XTestInjector::flush() { XFlush(m_display); }
