telvix_test(tst_portscan LABEL core SOURCES serial/tst_portscan.cpp LIBS telvix_platform)
telvix_test(tst_parmrk LABEL core SOURCES serial/tst_parmrk.cpp LIBS telvix_core)
telvix_test(tst_serialline LABEL pty SOURCES serial/tst_serialline.cpp
    LIBS telvix_platform telvix_testsupport PRELOAD)
# With the interposer for the RS-485 row's refusals.
telvix_test(tst_portdialog LABEL gui SOURCES serial/tst_portdialog.cpp LIBS telvix_guisupport
    PRELOAD)
telvix_test(tst_linecontrol LABEL pty SOURCES serial/tst_linecontrol.cpp
    LIBS telvix_platform telvix_testsupport PRELOAD)
telvix_test(tst_rfc2217 LABEL core SOURCES serial/tst_rfc2217.cpp LIBS telvix_core)
# Network ports against a real ser2net of the test's own.
telvix_test(tst_networkports LABEL pty SOURCES serial/tst_networkports.cpp
    LIBS telvix_guisupport telvix_ser2net)
# A network port's socket: its writer, keepalive, lookups and messages, on real TCP connections.
telvix_test(tst_networkwriter LABEL pty SOURCES serial/tst_networkwriter.cpp
    LIBS telvix_platform telvix_testsupport telvix_ser2net)
# Devices that go away and come back: a fake sysfs tree, pseudo-terminals (with the interposer
# for RS-485) and telvix-sim.
telvix_test(tst_comeback LABEL pty SOURCES serial/tst_comeback.cpp LIBS telvix_guisupport
    PRELOAD)
target_compile_definitions(tst_comeback PRIVATE TELVIX_SIM_PATH="$<TARGET_FILE:telvix-sim>")
add_dependencies(tst_comeback telvix-sim)
# The port's records in time order, with the interposer's break.
telvix_test(tst_portorder LABEL pty SOURCES serial/tst_portorder.cpp
    LIBS telvix_platform telvix_testsupport PRELOAD)
# Pass-through mode's pseudo-terminal, against a client of the test's own on its name.
telvix_test(tst_passthroughpty LABEL pty SOURCES serial/tst_passthroughpty.cpp
    LIBS telvix_platform telvix_testsupport)
