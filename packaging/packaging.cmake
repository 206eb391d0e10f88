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

# ---- manual pages and the package's documents ------------------------------------------

# Compressed as Debian's policy asks (gzip -9, no name or time stamp inside, so that a rebuild
# gives the same bytes). The Chinese pages pass through cjkbreak.pl first so that groff can
# break their lines; perl is part of every Debian system.
find_program(TELVIX_GZIP gzip REQUIRED)
find_program(TELVIX_PERL perl REQUIRED)
set(man_sources ${CMAKE_CURRENT_LIST_DIR}/man)
set(man_built ${PROJECT_BINARY_DIR}/man)
set(man_outputs)
set(man_pages telvix)
if(TARGET telvix-sim)
    list(APPEND man_pages telvix-sim)
endif()
foreach(lang en zh_TW)
    if(lang STREQUAL en)
        set(sub "")
        set(filter "cat")
    else()
        set(sub "${lang}/")
        set(filter "'${TELVIX_PERL}' -CSD -p '${man_sources}/cjkbreak.pl'")
    endif()
    foreach(page ${man_pages})
        set(source ${man_sources}/${sub}${page}.1)
        set(output ${man_built}/${sub}${page}.1.gz)
        add_custom_command(OUTPUT ${output}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${man_built}/${sub}
            COMMAND sh -c "${filter} '${source}' | '${TELVIX_GZIP}' -9n > '${output}'"
            DEPENDS ${source} ${man_sources}/cjkbreak.pl
            COMMENT "Manual page ${sub}${page}(1)" VERBATIM)
        list(APPEND man_outputs ${output})
        if(lang STREQUAL en)
            install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
        else()
            install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/${lang}/man1)
        endif()
    endforeach()
endforeach()

set(TELVIX_DEBIAN_REVISION 1)
set(debian_changelog ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
add_custom_command(OUTPUT ${debian_changelog}
    COMMAND sh -c "'${TELVIX_GZIP}' -9n < '${CMAKE_CURRENT_LIST_DIR}/changelog.Debian' > '${debian_changelog}'"
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog.Debian VERBATIM)
add_custom_target(telvix_documents ALL DEPENDS ${man_outputs} ${debian_changelog})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${debian_changelog}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/telvix)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME telvix)

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
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TELVIX_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://telvix.example.org/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Lines of the long description stay within 80 columns, as apt and lintian want them.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A technician picks a serial port and its line parameters, then works in one
of five modes: receive (every byte as text with named control codes, or as
hex), file send, typed-string send, a labelled two-way terminal mode, and R2K
mode, which turns received characters into keystrokes for the focused
application. Ports may also be serial servers on the network (RFC 2217 or raw
TCP). The user interface is Traditional Chinese.
.
Also contains telvix-sim, a simulated serial device on a pseudo-terminal.")
# Declared by hand rather than through dpkg-shlibdeps: the list has to name what no linker sees
# (the xcb platform plugin, the SVG plugins that draw the tool-bar glyphs, the fonts the forms
# are designed in), and a test checks that every library the binaries link is covered. The
# versions are those built against: Qt's minor release (its plugins and libraries go together),
# ICU's exact major with its minor, libXtst's release (Debian's epoch 2), Lua's 5.4 release
# (the scripts' interpreter, which Debian ships as its own soname), libmodbus's release (the
# Modbus slave of telvix-sim, when that is built). dpkg-shlibdeps asks for no more than these
# (libc6 2.34 and libstdc++6 11 are its answers).
string(REGEX MATCH "^[0-9]+" icu_major "${ICU_VERSION}")
set(qt "(>= ${Qt6_VERSION_MAJOR}.${Qt6_VERSION_MINOR}.0)")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 11), libgcc-s1 (>= 3.0), \
libqt6core6 ${qt}, libqt6dbus6 ${qt}, libqt6gui6 ${qt}, libqt6widgets6 ${qt}, \
qt6-qpa-plugins ${qt}, libqt6svg6 ${qt}, libicu${icu_major} (>= ${ICU_VERSION}), libx11-6, \
libxtst6 (>= 2:${XTEST_xtst_VERSION}), liblua5.4-0 (>= ${LUA_VERSION}), fonts-arphic-uming, \
fonts-dejavu-core")
if(TARGET telvix-sim)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libmodbus5 (>= ${TELVIX_MODBUS_VERSION})")
endif()
# The traffic display's mono face (without it the forms' Ming font stands in), Qt's own dialogs
# in Chinese (English without), and the bus that screen readers reach the program through.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-translations-l10n, at-spi2-core")
# R2K mode on Wayland goes through the desktop portal, which every desktop that has Wayland
# brings along; elsewhere it would only be dead weight.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-desktop-portal")
include(CPack)

# ---- screenshots -------------------------------------------------------------------------

# Built with everything else so that it keeps compiling; tools/screenshot.sh runs it.
add_executable(telvix_screenshot ${PROJECT_SOURCE_DIR}/tools/screenshot.cpp)
target_link_libraries(telvix_screenshot PRIVATE telvix_controls)
set_target_properties(telvix_screenshot PROPERTIES AUTOUIC OFF)
