// SPDX-License-Identifier: MIT
#include "main/Telvixmain1.h"

void TForm1::EnableR2KModeMenubarClick() { }
