# SPDX-License-Identifier: MIT
# What screen readers and UI automation see: in-process through Qt's accessibility API, and end
# to end through the AT-SPI bus with the real program.
telvix_test(tst_accessibility LABEL atspi SOURCES a11y/tst_accessibility.cpp
    LIBS telvix_guisupport)
add_test(NAME atspi_receive
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../support/a11y-session.sh
            /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/atspi_receive.py $<TARGET_FILE:telvix>)
set_tests_properties(atspi_receive PROPERTIES LABELS atspi TIMEOUT 300)
