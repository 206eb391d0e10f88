# SPDX-License-Identifier: MIT
# The command list in time: repeats against their period, what they cost, and how soon an
# auto-reply answers.
add_executable(command_bench ${CMAKE_CURRENT_LIST_DIR}/command_bench.cpp)
target_link_libraries(command_bench PRIVATE telvix_controls)
set_target_properties(command_bench PROPERTIES AUTOUIC OFF)
