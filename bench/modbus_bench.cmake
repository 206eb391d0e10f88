# SPDX-License-Identifier: MIT
# The Modbus framer and describer in the core: frames a second.
add_executable(modbus_bench ${CMAKE_CURRENT_LIST_DIR}/modbus_bench.cpp)
target_link_libraries(modbus_bench PRIVATE telvix_core)
set_target_properties(modbus_bench PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
