list(APPEND TELVIX_CORE
    modes/KeyEvent.h
    modes/ByteToKeyEvents.cpp modes/ByteToKeyEvents.h
    modes/KeyState.cpp modes/KeyState.h
)
list(APPEND TELVIX_PLATFORM
    modes/KeyInjection.cpp modes/KeyInjection.h
    modes/XTestInjector.cpp modes/XTestInjector.h
)
list(APPEND TELVIX_FORMS
    modes/R2KMode.cpp
    modes/TerminalMode.cpp
)
# The XTest injector needs Xlib and libXtst. The libraries are only defined after every folder
# has listed its files, hence the deferred link.
pkg_check_modules(TELVIX_XTEST REQUIRED IMPORTED_TARGET x11 xtst)
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR}
    CALL target_link_libraries telvix_platform PUBLIC PkgConfig::TELVIX_XTEST)
