list(APPEND TELVIX_CORE
    send/SendText.cpp send/SendText.h
    send/SendPacing.cpp send/SendPacing.h
    send/FileByteStream.cpp send/FileByteStream.h
    send/SendTexts.cpp send/SendTexts.h
    send/SendDelay.cpp send/SendDelay.h
    send/CommandList.cpp send/CommandList.h
    send/CommandFile.cpp send/CommandFile.h
    send/RepeatGrid.h
    send/AutoReply.cpp send/AutoReply.h
)
list(APPEND TELVIX_PLATFORM
    send/PacedSender.cpp send/PacedSender.h
    send/CommandSender.cpp send/CommandSender.h
    send/CommandRepeat.cpp send/CommandRepeat.h
    send/AutoResponder.cpp send/AutoResponder.h
)
list(APPEND TELVIX_FORMS
    send/Telvixmain3.cpp send/Telvixmain3.h send/Telvixmain3.ui
    send/Telvixmain4.cpp send/Telvixmain4.h send/Telvixmain4.ui
    send/Telvixmain5.cpp send/Telvixmain5.h send/Telvixmain5.ui
    send/TextColours.h
    send/CodeInsertion.cpp send/CodeInsertion.h
    send/FileSendJob.cpp send/FileSendJob.h
    send/StringSendJob.cpp send/StringSendJob.h
)
