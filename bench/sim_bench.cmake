# SPDX-License-Identifier: MIT
# How closely telvix-sim's stream keeps the rate it is asked for.
add_executable(sim_bench ${CMAKE_CURRENT_LIST_DIR}/sim_bench.cpp)
target_compile_definitions(sim_bench PRIVATE TELVIX_SIM_PATH="$<TARGET_FILE:telvix-sim>")
add_dependencies(sim_bench telvix-sim)
set_target_properties(sim_bench PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
