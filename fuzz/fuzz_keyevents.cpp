// SPDX-License-Identifier: MIT
// Any received byte sequence through the key tables and the key state, as R2K mode types it,
// into a model of the desktop's keyboard that refuses what a real one would not take: a press
// of a key that is down, a release of a key that is up, an event with no key.
//
// After every byte only Ctrl and Alt may still be down, and exactly as the bytes asked for
// (05h/06h hold and lift Ctrl, 03h/04h Alt); every printable character gives exactly one key
// stroke of its own; when the mode ends no key is left down.
//
// Input: cut seed, then the bytes.
#include "FuzzCheck.h"

#include "modes/ByteToKeyEvents.h"
#include "modes/KeyState.h"

#include <algorithm>
#include <vector>

namespace {

bool isModifier(uint8_t key)
{
    return key == VirtualKey::Shift || key == VirtualKey::Ctrl || key == VirtualKey::Alt;
}

class DesktopKeyboard : public KeyInjector
{
public:
    void inject(const KeyEvent &e) override
    {
        FUZZ_CHECK(e.virtualKey != 0);
        FUZZ_CHECK(e.flags == KeyFlags::Press || e.flags == KeyFlags::Release);
        const auto it = std::find(down.begin(), down.end(), e.virtualKey);
        if (e.isRelease()) {
            FUZZ_CHECK(it != down.end());
            down.erase(it);
        } else {
            FUZZ_CHECK(it == down.end());
            down.push_back(e.virtualKey);
            if (!isModifier(e.virtualKey))
                ++strokes;
        }
    }
    void flush() override { ++flushes; }

    bool isDown(uint8_t key) const { return std::find(down.begin(), down.end(), key) != down.end(); }

    std::vector<uint8_t> down;
    size_t strokes = 0; // presses of keys other than the modifiers
    size_t flushes = 0;
};

// The events of the tables alone, before the key state: a byte gives at most Shift, its key
// and the Shift release, and releases only ever lift a modifier.
class TableEvents : public KeyInjector
{
public:
    void inject(const KeyEvent &e) override
    {
        ++count;
        if (e.isRelease())
            FUZZ_CHECK(isModifier(e.virtualKey));
    }
    size_t count = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    const uint8_t cutSeed = in.take();
    const uint8_t *bytes = in.rest();

    DesktopKeyboard desktop;
    bool ctrlAsked = false, altAsked = false;
    {
        KeyState state(desktop);
        fuzz::forEachPiece(in.restSize(), cutSeed, [&](size_t offset, size_t length, unsigned) {
            for (size_t i = 0; i < length; ++i) {
                const uint8_t b = bytes[offset + i];
                const size_t strokesBefore = desktop.strokes;
                const size_t flushesBefore = desktop.flushes;
                typeBytes(&b, 1, state);

                TableEvents table;
                ByteToKeyEvents(b, table);
                FUZZ_CHECK(table.count <= 3);

                FUZZ_CHECK(desktop.flushes == flushesBefore + 1);
                if (b >= 0x20 && b <= 0x7E)
                    FUZZ_CHECK(desktop.strokes == strokesBefore + 1);
                if (b >= 0x7F)
                    FUZZ_CHECK(desktop.strokes == strokesBefore && table.count == 0);
                if (b == 0x05 || b == 0x06)
                    ctrlAsked = b == 0x05;
                if (b == 0x03 || b == 0x04)
                    altAsked = b == 0x03;
                FUZZ_CHECK(!desktop.isDown(VirtualKey::Shift));
                FUZZ_CHECK(desktop.isDown(VirtualKey::Ctrl) == ctrlAsked);
                FUZZ_CHECK(desktop.isDown(VirtualKey::Alt) == altAsked);
                FUZZ_CHECK(desktop.down.size() == size_t(ctrlAsked) + size_t(altAsked));
                FUZZ_CHECK(state.isHeld(VirtualKey::Ctrl) == ctrlAsked);
            }
        });
    } // the mode ends: the key state lets go of what it holds
    FUZZ_CHECK(desktop.down.empty());
    return 0;
}
