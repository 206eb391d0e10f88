// SPDX-License-Identifier: MIT
#include "LineWatcher.h"

namespace serial {

// Not yet: nothing is watched.
LineWatcher::LineWatcher(LineControl &, Publish) { }
LineWatcher::~LineWatcher() { stop(); }
void LineWatcher::start() { }
void LineWatcher::stop() { }
bool LineWatcher::isRunning() const { return false; }
ErrorCounts LineWatcher::counts() const { return {}; }

} // namespace serial
