list(APPEND TELVIX_CORE
    settings/AboutTexts.cpp settings/AboutTexts.h
)
list(APPEND TELVIX_FORMS
    settings/Telvixmain6.cpp settings/Telvixmain6.h settings/Telvixmain6.ui
    settings/OuterSize.h
)
