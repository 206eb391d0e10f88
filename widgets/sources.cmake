list(APPEND TELVIX_FORMS
    widgets/UpDown.cpp widgets/UpDown.h
    widgets/MessageBoxes.cpp widgets/MessageBoxes.h
    widgets/Fonts.cpp widgets/Fonts.h
    widgets/FontChoice.cpp widgets/FontChoice.h
    widgets/WaitBox.cpp widgets/WaitBox.h
    widgets/InputHistory.cpp widgets/InputHistory.h
)
