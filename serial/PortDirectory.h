// SPDX-License-Identifier: MIT
// Where the program looks for ports. Tests point it at a tree of their own.
#pragma once

#include "serial/PortScan.h"

namespace serial {
inline ScanRoots CurrentScanRoots;
} // namespace serial
