// SPDX-License-Identifier: MIT
#include "XTestInjector.h"

#include "modes/DesktopKeys.h"

#include <QStringList>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdlib>
#include <cstring>

namespace {

bool envSet(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
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
        result.problem = QStringLiteral("沒有可用的 X 顯示 (未設定 DISPLAY)。");
        return result;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        result.problem = QStringLiteral("無法連線到 X 顯示 %1。").arg(displayName());
        return result;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        result.problem = QStringLiteral("X 顯示 %1 不支援 XTEST 擴充功能。").arg(displayName());
        return result;
    }
    std::unique_ptr<XTestInjector> injector(new XTestInjector(display));
    QStringList missing;
    for (const DesktopKeys::KeysymOfKey &key : DesktopKeys::keysymTable()) {
        for (const KeySym keysym : key.keysyms) {
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
    result.route = QStringLiteral(" 6,鍵盤事件經由 X11 的 XTest 擴充功能送出");
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
