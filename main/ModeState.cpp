// SPDX-License-Identifier: MIT
#include "ModeState.h"

namespace ModeState {

void reset()
{
    BreakRequested = 0;
    ReceiveModeActive = 0;
    HexDisplayMode = 0;
    PortReady = 0;
    SendActive = 0;
    TRModeActive = 0;
    R2KModeActive = 0;
    ReadRestartRequested = 0;
    RemotePrefixWritten = 0;
    PortHandle = -1;
    ReadDoneEvent = nullptr;
    ReadRequest = pollfd {-1, 0, 0};
    ReceivedByte = 0;
    BytesTransferred = 0;
}

} // namespace ModeState
