# SPDX-License-Identifier: MIT
# What a running line costs: receive mode fed at a serial line's pace, the window's CPU, its
# passes and reads, and how long a byte takes to be shown.
add_executable(line_rate_bench ${CMAKE_CURRENT_LIST_DIR}/line_rate_bench.cpp)
target_link_libraries(line_rate_bench PRIVATE telvix_controls)
set_target_properties(line_rate_bench PROPERTIES AUTOUIC OFF)
