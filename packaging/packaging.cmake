# SPDX-License-Identifier: MIT
# What `cmake --install` puts on a system, the Debian package CPack makes of it, and the small
# program that draws the screenshots the README and the AppStream file show.
include(GNUInstallDirs)

# The build `telvix --version` names: the commit when the tree is a git checkout, and the date
# of configuring (which honours SOURCE_DATE_EPOCH, so rebuilt packages can match).
find_package(Git QUIET)
set(TELVIX_BUILD_COMMIT "")
if(GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
    execute_process(COMMAND ${GIT_EXECUTABLE} describe --always --dirty --abbrev=10
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE TELVIX_BUILD_COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE
        ERROR_QUIET)
endif()
string(TIMESTAMP TELVIX_BUILD_DATE "%Y-%m-%d" UTC)
if(TELVIX_BUILD_COMMIT)
    set(TELVIX_BUILD "${TELVIX_BUILD_COMMIT}, ${TELVIX_BUILD_DATE}")
else()
    set(TELVIX_BUILD "${TELVIX_BUILD_DATE}")
endif()
target_compile_definitions(telvix PRIVATE
    TELVIX_VERSION="${PROJECT_VERSION}" TELVIX_BUILD="${TELVIX_BUILD}")

# ---- installation ------------------------------------------------------------------------

install(TARGETS telvix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET telvix-sim)
    install(TARGETS telvix-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# `strip` alone leaves the compilers' version strings (.comment) and the bare .note section,
# which Debian's own packaging removes; do the same when installing stripped (as CPack does).
set(telvix_programs telvix)
if(TARGET telvix-sim)
    list(APPEND telvix_programs telvix-sim)
endif()
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        foreach(program ${telvix_programs})
            execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                --remove-section=.note
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
                RESULT_VARIABLE failed)
            if(failed)
                message(FATAL_ERROR \"objcopy could not clean \${program}\")
            endif()
        endforeach()
    endif()")
# The desktop file keeps the program's own name, so that `Icon=telvix`, the command and the
# menu entry agree; the AppStream id points at it through its launchable.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/telvix.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/org.telvix.telvix.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/main/icons/telvix.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# ---- the Debian package ------------------------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME telvix)
set(CPACK_PACKAGE_VENDOR "TELVIX developers")
set(CPACK_PACKAGE_CONTACT "TELVIX developers <developers@telvix.example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "RS232 serial line tester")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://telvix.example.org/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A technician picks a serial port and its line parameters, then works in one of five modes:
receive (every byte as text with named control codes, or as hex), file send, typed-string
send, a labelled two-way terminal mode, and R2K mode, which turns received characters into
keystrokes for the focused application. The user interface is Traditional Chinese.
Also contains telvix-sim, a simulated serial device on a pseudo-terminal.")
# Declared by hand rather than through dpkg-shlibdeps: the list has to name what no linker sees
# (the xcb platform plugin, the SVG plugins that draw the tool-bar glyphs, the fonts the forms
# are designed in), and a test checks that every library the binaries link is covered.
string(REGEX MATCH "^[0-9]+" icu_major "${ICU_VERSION}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libqt6core6, libqt6dbus6, libqt6gui6, \
libqt6widgets6, qt6-qpa-plugins, libqt6svg6, libicu${icu_major}, libx11-6, libxtst6, \
fonts-arphic-uming, fonts-dejavu-core")
# The traffic display's mono face (without it the forms' Ming font stands in), Qt's own dialogs
# in Chinese (English without), and the bus that screen readers reach the program through.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-translations-l10n, at-spi2-core")
include(CPack)

# ---- screenshots -------------------------------------------------------------------------

# Built with everything else so that it keeps compiling; tools/screenshot.sh runs it.
add_executable(telvix_screenshot ${PROJECT_SOURCE_DIR}/tools/screenshot.cpp)
target_link_libraries(telvix_screenshot PRIVATE telvix_forms)
set_target_properties(telvix_screenshot PROPERTIES AUTOUIC OFF)
