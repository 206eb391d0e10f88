list(APPEND TELVIX_FORMS
    modes/R2KMode.cpp
)
