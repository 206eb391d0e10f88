# SPDX-License-Identifier: MIT
# The folders' layers, checked over the sources: no build output needed.
add_test(NAME layout_includes
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/layout.sh ${PROJECT_SOURCE_DIR})
add_test(NAME layout_planted
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/planted.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(layout_includes layout_planted PROPERTIES LABELS layout TIMEOUT 60)
