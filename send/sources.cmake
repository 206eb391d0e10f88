list(APPEND TELVIX_FORMS
    send/Telvixmain3.cpp send/Telvixmain3.h send/Telvixmain3.ui
    send/Telvixmain4.cpp send/Telvixmain4.h send/Telvixmain4.ui
    send/Telvixmain5.cpp send/Telvixmain5.h send/Telvixmain5.ui
    send/FileSend.cpp
    send/StringSend.cpp
)
