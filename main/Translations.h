// SPDX-License-Identifier: MIT
// The program speaks Traditional Chinese whatever the desktop's language, and so do Qt's own
// dialogs (file, font, colour) and standard buttons that it shows.
#pragma once

namespace Translations {

// Loads Qt's Traditional-Chinese translations (Debian's qt6-translations-l10n) into the running
// application. False when they are not installed: Qt's dialogs then stay in English.
bool install();

} // namespace Translations
