list(APPEND TELVIX_FORMS
    settings/Telvixmain6.cpp settings/Telvixmain6.h settings/Telvixmain6.ui
)
