// SPDX-License-Identifier: MIT
// telvix-sim's echo as a test's loopback plug (SimDevice.h).
#pragma once

#include "SimDevice.h"
