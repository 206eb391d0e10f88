telvix_test(tst_modetable LABEL core SOURCES main/tst_modetable.cpp LIBS telvix_core)
telvix_test(tst_coretext LABEL core SOURCES main/tst_coretext.cpp LIBS telvix_core)
telvix_test(tst_hexinput LABEL core SOURCES main/tst_hexinput.cpp LIBS telvix_core)
telvix_test(tst_checksum LABEL core SOURCES main/tst_checksum.cpp LIBS telvix_core)
telvix_test(tst_mainwindow LABEL gui SOURCES main/tst_mainwindow.cpp LIBS telvix_guisupport)
telvix_test(tst_statusbar LABEL gui SOURCES main/tst_statusbar.cpp LIBS telvix_guisupport)
telvix_test(tst_formatter LABEL core SOURCES main/tst_formatter.cpp LIBS telvix_core)
telvix_test(tst_receivemode LABEL pty SOURCES main/tst_receivemode.cpp LIBS telvix_guisupport)
telvix_test(tst_traffictext LABEL core SOURCES main/tst_traffictext.cpp LIBS telvix_core)
telvix_test(tst_trafficview LABEL gui SOURCES main/tst_trafficview.cpp LIBS telvix_guisupport)
telvix_test(tst_findbar LABEL gui SOURCES main/tst_findbar.cpp LIBS telvix_guisupport)
telvix_test(tst_dialogkeys LABEL gui SOURCES main/tst_dialogkeys.cpp LIBS telvix_guisupport)
telvix_test(tst_sessions LABEL pty SOURCES main/tst_sessions.cpp modes/RecordingInjector.h
    LIBS telvix_guisupport)
telvix_test(tst_capture LABEL core SOURCES main/tst_capture.cpp main/PipeWatchdog.h
    LIBS telvix_core)
telvix_test(tst_memorywatch LABEL core SOURCES main/tst_memorywatch.cpp LIBS telvix_core)
telvix_test(tst_logging LABEL pty SOURCES main/tst_logging.cpp main/PipeWatchdog.h
    send/SendTestSupport.cpp send/SendTestSupport.h modes/RecordingInjector.h
    LIBS telvix_guisupport)
telvix_test(tst_linepanel LABEL pty SOURCES main/tst_linepanel.cpp LIBS telvix_guisupport)
telvix_test(tst_linepanelkernel LABEL pty SOURCES main/tst_linepanelkernel.cpp LIBS telvix_guisupport PRELOAD)
target_compile_definitions(tst_linepanelkernel PRIVATE TELVIX_SIM_PATH="$<TARGET_FILE:telvix-sim>")
add_dependencies(tst_linepanelkernel telvix-sim)
