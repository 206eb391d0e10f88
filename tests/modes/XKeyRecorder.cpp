// SPDX-License-Identifier: MIT
#include "XKeyRecorder.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>

XKeyRecorder::~XKeyRecorder()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_display)
        XCloseDisplay(m_display);
    if (m_query)
        XCloseDisplay(m_query);
}

QString XKeyRecorder::open()
{
    m_display = XOpenDisplay(nullptr);
    m_query = XOpenDisplay(nullptr);
    if (!m_display || !m_query)
        return QStringLiteral("no X display");
    const int screen = DefaultScreen(m_display);
    m_window = XCreateSimpleWindow(m_display, RootWindow(m_display, screen), 700, 50, 300, 200, 0,
                                   BlackPixel(m_display, screen), WhitePixel(m_display, screen));
    XSelectInput(m_display, m_window, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
    XMapRaised(m_display, m_window);
    XEvent event;
    do {
        XNextEvent(m_display, &event);
    } while (event.type != MapNotify);
    focus();
    if (!hasFocus())
        return QStringLiteral("the recording window did not get the focus");
    m_thread = std::thread([this] { record(); });
    return {};
}

void XKeyRecorder::focus()
{
    XSetInputFocus(m_query, m_window, RevertToParent, CurrentTime);
    XSync(m_query, False);
}

bool XKeyRecorder::hasFocus() const
{
    Window focused = 0;
    int revert = 0;
    XGetInputFocus(m_query, &focused, &revert);
    return focused == m_window;
}

void XKeyRecorder::record()
{
    pollfd connection {ConnectionNumber(m_display), POLLIN, 0};
    while (!m_stop) {
        if (XPending(m_display) == 0) {
            poll(&connection, 1, 20);
            continue;
        }
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type != KeyPress && event.type != KeyRelease)
            continue;
        const auto seen = Clock::now();
        char buffer[16] = {};
        KeySym keysym = 0;
        const int length = XLookupString(&event.xkey, buffer, sizeof buffer, &keysym, nullptr);
        Key key {event.type == KeyPress, event.xkey.keycode, QByteArray(buffer, length), seen};
        {
            std::lock_guard lock(m_mutex);
            m_keys.append(key);
        }
        if (key.press && !key.text.isEmpty())
            ++m_typed;
    }
}

QList<XKeyRecorder::Key> XKeyRecorder::keys() const
{
    std::lock_guard lock(m_mutex);
    return m_keys;
}

void XKeyRecorder::clear()
{
    std::lock_guard lock(m_mutex);
    m_keys.clear();
    m_typed = 0;
}

QByteArray XKeyRecorder::typedText() const
{
    QByteArray text;
    for (const Key &key : keys()) {
        if (key.press)
            text += key.text;
    }
    return text;
}

int XKeyRecorder::typedCount() const { return m_typed; }

QList<unsigned> XKeyRecorder::keysDown() const
{
    char map[32] = {};
    XQueryKeymap(m_query, map);
    QList<unsigned> down;
    for (unsigned code = 0; code < 256; ++code) {
        if (map[code / 8] & (1 << (code % 8)))
            down.append(code);
    }
    return down;
}
