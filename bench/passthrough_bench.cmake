# SPDX-License-Identifier: MIT
# Pass-through mode between a program and its device: the latency it adds each way, and both
# ways at 1.2 MB/s at once.
add_executable(passthrough_bench ${CMAKE_CURRENT_LIST_DIR}/passthrough_bench.cpp)
target_link_libraries(passthrough_bench PRIVATE telvix_controls)
set_target_properties(passthrough_bench PROPERTIES AUTOUIC OFF)
