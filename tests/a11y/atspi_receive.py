#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""TELVIX end to end as a screen reader meets it, through the AT-SPI bus.

The test plays the device on a pseudo-terminal and the user through AT-SPI alone: it names the
pty in the port dialog, starts receive mode with its tool button, writes bytes to the line and
reads them back as the display's text, with the caret, the read-only state and the change
events a screen reader follows; then Break gives the display back for editing.

    atspi_receive.py <telvix binary>     (run inside tests/support/a11y-session.sh)
"""

import os
import subprocess
import sys
import tempfile
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def pump():
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def wait(what, condition, timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        pump()
        try:
            result = condition()
        except GLib.Error:
            result = None  # an object went away while it was looked at: look again
        if result:
            return result
        time.sleep(0.05)
    fail("timed out waiting for " + what)


def find(node, predicate, depth=0):
    if node is None or depth > 30:
        return None
    try:
        if predicate(node):
            return node
        count = node.get_child_count()
    except GLib.Error:
        return None
    for i in range(count):
        found = find(node.get_child_at_index(i), predicate, depth + 1)
        if found:
            return found
    return None


def named(role, name):
    return lambda n: n.get_role_name() == role and n.get_name() == name


def states(node):
    return {s.value_nick for s in node.get_state_set().get_states()}


def press(node):
    # A command that opens a modal dialog or runs a mode answers only when that is over; its
    # press has been delivered all the same.
    try:
        if not Atspi.Action.do_action(node, 0):
            fail("could not press " + node.get_name())
    except GLib.Error as e:
        if "reply" not in e.message:
            raise


def display_text(memo):
    return Atspi.Text.get_text(memo, 0, -1)


def main():
    telvix = sys.argv[1]
    master, slave = os.openpty()
    device = os.ttyname(slave)
    os.close(slave)  # the program is to hold the line alone

    runtime = tempfile.mkdtemp(prefix="telvix-atspi.")
    os.chmod(runtime, 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, LC_ALL="C.UTF-8")
    program = subprocess.Popen([telvix], env=env)
    # Now and then a program started at once after the X server came up cannot connect to it
    # and exits at start; that says nothing about TELVIX, so it gets one more start.
    try:
        program.wait(3)
        print("the program ended at start (status %d); starting it again" % program.returncode,
              flush=True)
        time.sleep(1)
        program = subprocess.Popen([telvix], env=env)
    except subprocess.TimeoutExpired:
        pass
    try:
        run(master, device)
    finally:
        program.terminate()
        try:
            program.wait(10)
        except subprocess.TimeoutExpired:
            program.kill()
        os.close(master)
        os.rmdir(runtime)
    print("PASS: the display's text, caret and state and the line lamps are read over AT-SPI",
          flush=True)


def run(master, device):
    def application():
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            child = desktop.get_child_at_index(i)
            if child is not None and child.get_name() == "TELVIX":
                return child
        return None

    # Short answers expected: a press that opens a dialog is not waited for long.
    Atspi.set_timeout(1000, 2000)
    app = wait("TELVIX on the accessibility bus", application)
    window = wait("the main window", lambda: find(app, named("frame", "TELVIX  V3.6")))

    # The port: the device path row of the port dialog names the pty.
    press(wait("the port button", lambda: find(window, named("push button", "設定 RS232 相關參數值"))))
    dialog = wait("the port dialog", lambda: find(app, named("dialog", "RS232 參數設定")))
    path_box = wait("the device path box", lambda: find(dialog, named("text", "裝置路徑")))
    if not Atspi.EditableText.set_text_contents(path_box, device):
        fail("the device path box took no text")
    press(find(dialog, named("push button", "確定")))
    summary = device + " = 9600 , N , 8 , 1"
    wait("the port summary in the status bar", lambda: find(window, named("label", summary)))

    memo = wait("the display", lambda: find(window, named("text", "資料顯示區")))
    if "editable" not in states(memo) or "multi-line" not in states(memo):
        fail("the idle display is no editable multi-line text: %s" % sorted(states(memo)))

    inserted = []

    def on_insert(event):
        if event.source == memo:
            inserted.append(event.any_data)

    listener = Atspi.EventListener.new(on_insert)
    listener.register("object:text-changed:insert")

    press(find(window, named("push button", "接收 <== RS232  資料")))
    wait("receive mode", lambda: find(window, named("label", "接收模式(已啟動執行)....")))
    wait("the display to become read-only", lambda: "editable" not in states(memo))

    # What a device says: text, a control code, a line break, a Big5 pair (中).
    os.write(master, b"T=23.5\x06\r\n\xa4\xa4OK")
    expected = "T=23.5<ACK><CR>\n<LF>中OK"
    wait("the bytes as the display's text", lambda: display_text(memo) == expected)
    if Atspi.Text.get_character_count(memo) != len(expected):
        fail("character count %d, not %d" % (Atspi.Text.get_character_count(memo), len(expected)))
    if Atspi.Text.get_caret_offset(memo) != len(expected):
        fail("the caret is not behind the output")
    # Qt answers the older call only (GetTextAtOffset, not GetStringAtOffset).
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        line = Atspi.Text.get_text_at_offset(memo, len(expected) - 1,
                                             Atspi.TextBoundaryType.LINE_START)
    if line.content != "<LF>中OK" or line.start_offset != len("T=23.5<ACK><CR>\n"):
        fail("the last line reads %r from %d" % (line.content, line.start_offset))
    wait("the insertions to be told", lambda: "".join(inserted) == expected)
    # The line panel: each lamp says its state in its name. A pseudo-terminal has no handshake
    # lines, so the lamps are unknown, and the panel says why.
    settings_menu = wait("the settings menu",
                         lambda: find(window, lambda n: n.get_role_name() == "menu item"
                                      and n.get_name().startswith("設定控制")))
    press(settings_menu)
    # The menu's items come and go with the menu: look again until one takes the press.
    def press_item():
        item = find(app, lambda n: n.get_name() == "線路狀態面板"
                    and n.get_role_name().endswith("menu item"))
        return item is not None and Atspi.Action.do_action(item, 0)
    wait("the line panel's menu item to take a press", press_item)
    for lamp in ("CTS", "DSR", "DCD", "RI"):
        wait("the %s lamp" % lamp, lambda: find(window, named("label", lamp + " 未知")))
    wait("the panel to say why",
         lambda: find(window, named("label", "此埠的驅動程式不提供線路狀態")))

    press(find(window, named("push button", "中斷..目前模式中的連線")))
    wait("the mode to end", lambda: find(window, named("label", "未連線")))
    wait("the display to be editable again", lambda: "editable" in states(memo))
    if display_text(memo) != expected:
        fail("Break changed the display: %r" % display_text(memo))
    listener.deregister("object:text-changed:insert")


if __name__ == "__main__":
    main()
