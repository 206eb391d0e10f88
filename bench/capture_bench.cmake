# SPDX-License-Identifier: MIT
# What the session capture costs in memory per byte it keeps.
add_executable(capture_bench ${CMAKE_CURRENT_LIST_DIR}/capture_bench.cpp)
target_link_libraries(capture_bench PRIVATE telvix_core)
