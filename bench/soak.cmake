# SPDX-License-Identifier: MIT
# Receive mode for half an hour at a serial line's pace: memory after each clear, bytes exact.
add_executable(soak ${CMAKE_CURRENT_LIST_DIR}/soak.cpp)
target_link_libraries(soak PRIVATE telvix_controls)
target_compile_definitions(soak PRIVATE TELVIX_SIM_PATH="$<TARGET_FILE:telvix-sim>")
add_dependencies(soak telvix-sim)
set_target_properties(soak PROPERTIES AUTOUIC OFF)
