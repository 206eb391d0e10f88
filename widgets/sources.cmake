list(APPEND TELVIX_FORMS
    widgets/UpDown.cpp widgets/UpDown.h
    widgets/MessageBoxes.cpp widgets/MessageBoxes.h
    widgets/Fonts.cpp widgets/Fonts.h
    widgets/FontChoice.cpp widgets/FontChoice.h
    widgets/WaitBox.cpp widgets/WaitBox.h
    widgets/Lamp.cpp widgets/Lamp.h
    widgets/FileDialogs.cpp widgets/FileDialogs.h
    widgets/ElidedLabel.cpp widgets/ElidedLabel.h
    widgets/StatusPanelLayout.cpp widgets/StatusPanelLayout.h
    widgets/InputHistory.cpp widgets/InputHistory.h
    widgets/GrowingPanel.cpp widgets/GrowingPanel.h
    widgets/CodeEditor.cpp widgets/CodeEditor.h
)
