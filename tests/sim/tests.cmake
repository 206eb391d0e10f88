# SPDX-License-Identifier: MIT
telvix_test(tst_simparts LABEL core SOURCES sim/tst_simparts.cpp LIBS telvix_sim_parts)
telvix_test(tst_virtualports LABEL core SOURCES sim/tst_virtualports.cpp
    LIBS telvix_platform telvix_testsupport)
# The simulator as a user starts it: the built program on real pseudo-terminals.
# Its Modbus slave is driven by libmodbus's master, a Modbus implementation of its own.
telvix_test(tst_sim LABEL pty SOURCES sim/tst_sim.cpp
    LIBS telvix_platform telvix_testsupport PkgConfig::MODBUS)
target_compile_definitions(tst_sim PRIVATE TELVIX_SIM_PATH="$<TARGET_FILE:telvix-sim>")
add_dependencies(tst_sim telvix-sim)
