telvix_test(tst_keytables LABEL core SOURCES modes/tst_keytables.cpp modes/RecordingInjector.h
    LIBS telvix_core)
telvix_test(tst_r2kmode LABEL gui SOURCES modes/tst_r2kmode.cpp modes/RecordingInjector.h
    LIBS telvix_guisupport)
telvix_test(tst_r2kx11 LABEL x11 SOURCES modes/tst_r2kx11.cpp modes/XKeyRecorder.cpp modes/TypedTextRows.h
    modes/XKeyRecorder.h LIBS telvix_guisupport)
telvix_test(tst_terminalmode LABEL pty SOURCES modes/tst_terminalmode.cpp LIBS telvix_guisupport)
# The cable self-test against telvix-sim's echo and pseudo-terminals of its own.
telvix_test(tst_selftest LABEL pty SOURCES modes/tst_selftest.cpp LIBS telvix_guisupport)
target_compile_definitions(tst_selftest PRIVATE TELVIX_SIM_PATH="$<TARGET_FILE:telvix-sim>")
add_dependencies(tst_selftest telvix-sim)
# R2K mode through the desktop portal, against a stand-in portal on a bus of the test's own.
telvix_test(tst_r2kportal LABEL gui SOURCES modes/tst_r2kportal.cpp modes/TypedTextRows.h
    LIBS telvix_guisupport telvix_mockportal)
# Conversations between two others: the monitor's two lines on pseudo-terminals of the test's own,
# the pass-through between a client of the test's own (and pySerial) and a pty or telvix-sim.
telvix_test(tst_conversation LABEL pty SOURCES modes/tst_conversation.cpp
    LIBS telvix_guisupport PkgConfig::MODBUS)
target_compile_definitions(tst_conversation PRIVATE TELVIX_SIM_PATH="$<TARGET_FILE:telvix-sim>")
add_dependencies(tst_conversation telvix-sim)
