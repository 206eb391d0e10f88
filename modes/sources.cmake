list(APPEND TELVIX_CORE
    modes/KeyEvent.h
    modes/ByteToKeyEvents.cpp modes/ByteToKeyEvents.h
    modes/KeyState.cpp modes/KeyState.h
    modes/DesktopKeys.cpp modes/DesktopKeys.h
)
list(APPEND TELVIX_PLATFORM
    modes/KeyInjection.cpp modes/KeyInjection.h
    modes/XTestInjector.cpp modes/XTestInjector.h
    modes/PortalInjector.cpp modes/PortalInjector.h
    modes/LineSelfTest.cpp modes/LineSelfTest.h
)
list(APPEND TELVIX_FORMS
    modes/ScriptHost.cpp modes/ScriptHost.h
    modes/ScriptCommandLine.cpp modes/ScriptCommandLine.h
    modes/ScriptSession.cpp modes/ScriptSession.h
    modes/MonitorSession.cpp modes/MonitorSession.h
    modes/PassThroughSession.cpp modes/PassThroughSession.h
    modes/R2KSession.cpp modes/R2KSession.h
    modes/TerminalSession.cpp modes/TerminalSession.h
    modes/SelfTestDialog.cpp modes/SelfTestDialog.h
)
