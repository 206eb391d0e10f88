# SPDX-License-Identifier: MIT
# Writes, for each form's .ui file, a header with a struct of the form's named controls
# (class and name as the file gives them), found by name in the live form: the tests' way to
# its controls, so that no test needs the form's generated ui class.
#   telvix_form_controls(OUT_DIR ui-file ...)
function(telvix_form_controls out_dir)
    foreach(ui IN LISTS ARGN)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ui})
        file(READ ${ui} text)
        cmake_path(RELATIVE_PATH ui BASE_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE source)
        string(REGEX MATCH "<class>([A-Za-z0-9_]+)</class>" _ "${text}")
        set(form ${CMAKE_MATCH_1})
        set(includes "#include \"Controls.h\"\n\n#include <QtWidgets>\n")
        string(REGEX MATCHALL "<header>[^<]+</header>" headers "${text}")
        foreach(h IN LISTS headers)
            string(REGEX REPLACE "<header>([^<]+)</header>" "\\1" h "${h}")
            string(APPEND includes "#include \"${h}\"\n")
        endforeach()
        set(members)
        string(REGEX MATCHALL "<widget class=\"[A-Za-z0-9_]+\" name=\"[A-Za-z0-9_]+\"" widgets
               "${text}")
        foreach(w IN LISTS widgets)
            string(REGEX REPLACE "<widget class=\"([A-Za-z0-9_]+)\" name=\"([A-Za-z0-9_]+)\"" "\\1;\\2"
                   pair "${w}")
            list(GET pair 0 class)
            list(GET pair 1 name)
            if(NOT name STREQUAL form)
                string(APPEND members
                       "    ${class} *const ${name} = formControl<${class}>(m_form, \"${name}\");\n")
            endif()
        endforeach()
        string(REGEX MATCHALL "<action name=\"[A-Za-z0-9_]+\"" actions "${text}")
        foreach(a IN LISTS actions)
            string(REGEX REPLACE "<action name=\"([A-Za-z0-9_]+)\"" "\\1" name "${a}")
            string(APPEND members
                   "    QAction *const ${name} = formControl<QAction>(m_form, \"${name}\");\n")
        endforeach()
        file(CONFIGURE OUTPUT ${out_dir}/${form}Controls.h CONTENT
"// Generated from ${source}: do not edit.
#pragma once

${includes}
struct ${form}Controls
{
    explicit ${form}Controls(QObject *form) : m_form(form) { }

private:
    QObject *const m_form;

public:
${members}};
" @ONLY)
    endforeach()
endfunction()
