# SPDX-License-Identifier: MIT
# What a screen reader's questions cost with a large display.
add_executable(a11y_bench ${CMAKE_CURRENT_LIST_DIR}/a11y_bench.cpp)
target_link_libraries(a11y_bench PRIVATE telvix_forms)
set_target_properties(a11y_bench PROPERTIES AUTOUIC OFF)
