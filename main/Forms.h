// SPDX-License-Identifier: MIT
// The six forms live for the whole run, created in a fixed order at start-up.
#pragma once

namespace Forms {

// Form1 (the main window) first, then Form2 ... Form6. The dialogs are children of Form1 so
// that they centre on it and go with it.
void createAll();
void destroyAll();

} // namespace Forms
