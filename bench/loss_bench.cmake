# SPDX-License-Identifier: MIT
# Bytes lost while the window is busy: dialogs over reading modes, a long terminal send, a
# blocked window thread, each with a device streaming at a fixed rate.
add_executable(loss_bench ${CMAKE_CURRENT_LIST_DIR}/loss_bench.cpp)
target_link_libraries(loss_bench PRIVATE telvix_controls)
set_target_properties(loss_bench PROPERTIES AUTOUIC OFF)
