# SPDX-License-Identifier: MIT
# The installed files, the Debian package and the command line: plain scripts, no display.
set(pkg ${CMAKE_CURRENT_LIST_DIR})
set(sources ${PROJECT_SOURCE_DIR}/packaging)

add_test(NAME packaging_desktop_entry
    COMMAND bash ${pkg}/desktop_entry.sh ${sources}/telvix.desktop)
add_test(NAME packaging_metainfo
    COMMAND bash ${pkg}/metainfo.sh ${sources}/org.telvix.telvix.metainfo.xml
            ${sources}/telvix.desktop ${PROJECT_SOURCE_DIR}/docs ${PROJECT_VERSION})
add_test(NAME packaging_command_line
    COMMAND bash ${pkg}/command_line.sh $<TARGET_FILE:telvix> ${PROJECT_VERSION})
if(TARGET telvix-sim)
    set(with_sim 1)
else()
    set(with_sim 0)
endif()
add_test(NAME packaging_deb
    COMMAND bash ${pkg}/deb.sh ${PROJECT_BINARY_DIR} ${PROJECT_VERSION} ${with_sim})
set_tests_properties(packaging_desktop_entry packaging_metainfo packaging_command_line
    packaging_deb PROPERTIES LABELS packaging TIMEOUT 300)
