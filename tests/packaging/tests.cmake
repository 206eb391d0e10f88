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
    COMMAND bash ${pkg}/deb.sh ${PROJECT_BINARY_DIR} ${PROJECT_VERSION} ${TELVIX_DEBIAN_REVISION}
            ${with_sim})
# What is shipped is the ordinary build; a package of the sanitizer build, without the
# hardening flags, is one nobody installs, so lintian only judges the former.
if(NOT TELVIX_SANITIZE)
    add_test(NAME packaging_lintian COMMAND bash ${pkg}/lintian.sh ${PROJECT_BINARY_DIR})
    set_tests_properties(packaging_lintian PROPERTIES LABELS packaging TIMEOUT 300)
endif()
add_test(NAME packaging_manual
    COMMAND bash ${pkg}/manual.sh ${PROJECT_BINARY_DIR}/man $<TARGET_FILE:telvix>
            $<$<TARGET_EXISTS:telvix-sim>:$<TARGET_FILE:telvix-sim>>)
set_tests_properties(packaging_desktop_entry packaging_metainfo packaging_command_line
    packaging_deb packaging_manual PROPERTIES LABELS packaging TIMEOUT 300)
