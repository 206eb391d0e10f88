list(APPEND TELVIX_CORE
    main/MemoryWatch.cpp main/MemoryWatch.h
)
list(APPEND TELVIX_FORMS
    main/Telvixmain1.cpp main/Telvixmain1.h main/Telvixmain1.ui
    main/LinePanel.cpp main/LinePanel.h
    main/CommandPanel.cpp main/CommandPanel.h
    main/ScriptWindow.cpp main/ScriptWindow.h
    main/TrafficView.cpp main/TrafficView.h
    main/FindBar.cpp main/FindBar.h
    main/TrafficViewAccessible.cpp main/TrafficViewAccessible.h
    main/Translations.cpp main/Translations.h
    main/Forms.cpp main/Forms.h
    main/PortOpening.cpp
    main/ReceiveSession.cpp main/ReceiveSession.h
    main/resources.qrc
)
