list(APPEND TELVIX_CORE
    main/ModeState.cpp main/ModeState.h
    main/ModeTable.cpp main/ModeTable.h
    main/IntText.cpp main/IntText.h
    main/Cp950.cpp main/Cp950.h
    main/DisplayFormatter.cpp main/DisplayFormatter.h
    main/TrafficText.cpp main/TrafficText.h
    main/Traffic.cpp main/Traffic.h
    main/LineEvents.cpp main/LineEvents.h
    main/TrafficCapture.cpp main/TrafficCapture.h
    main/TrafficRenderer.cpp main/TrafficRenderer.h
    main/LogFormat.cpp main/LogFormat.h
    main/SystemError.cpp main/SystemError.h
    main/LiveLog.cpp main/LiveLog.h
    main/CaptureExport.cpp main/CaptureExport.h
    main/MemoryWatch.cpp main/MemoryWatch.h
)
list(APPEND TELVIX_FORMS
    main/Telvixmain1.cpp main/Telvixmain1.h main/Telvixmain1.ui
    main/LinePanel.cpp main/LinePanel.h
    main/ModeHost.h
    main/ModeFrame.cpp main/ModeFrame.h
    main/TrafficView.cpp main/TrafficView.h
    main/TrafficViewAccessible.cpp main/TrafficViewAccessible.h
    main/UpDown.cpp main/UpDown.h
    main/MessageBoxes.cpp main/MessageBoxes.h
    main/Fonts.cpp main/Fonts.h
    main/FontChoice.cpp main/FontChoice.h
    main/Translations.cpp main/Translations.h
    main/Forms.cpp main/Forms.h
    main/PortOpening.cpp
    main/ReadLoop.cpp main/ReadLoop.h
    main/ReceiveSession.cpp main/ReceiveSession.h
    main/ReceivedDisplay.cpp main/ReceivedDisplay.h
    main/resources.qrc
)
