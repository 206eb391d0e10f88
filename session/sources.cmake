list(APPEND TELVIX_CORE
    session/ModeState.cpp session/ModeState.h
    session/ModeTable.cpp session/ModeTable.h
)
list(APPEND TELVIX_FORMS
    session/ModeHost.cpp session/ModeHost.h
    session/ModeFrame.cpp session/ModeFrame.h
    session/ReadLoop.cpp session/ReadLoop.h
    session/ReceivedDisplay.cpp session/ReceivedDisplay.h
    session/ConversationDisplay.cpp session/ConversationDisplay.h
)
