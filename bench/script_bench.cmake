# SPDX-License-Identifier: MIT
# A script in time, as `telvix --run` runs it: expect's answer, send's rate, Ctrl+C.
add_executable(script_bench ${CMAKE_CURRENT_LIST_DIR}/script_bench.cpp)
target_link_libraries(script_bench PRIVATE Qt6::Core)
target_compile_definitions(script_bench PRIVATE TELVIX_PATH="$<TARGET_FILE:telvix>")
add_dependencies(script_bench telvix)
set_target_properties(script_bench PROPERTIES AUTOUIC OFF)
