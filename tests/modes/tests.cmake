telvix_test(tst_keytables LABEL core SOURCES modes/tst_keytables.cpp modes/RecordingInjector.h
    LIBS telvix_core)
telvix_test(tst_r2kmode LABEL gui SOURCES modes/tst_r2kmode.cpp modes/RecordingInjector.h
    LIBS telvix_guisupport)
telvix_test(tst_r2kx11 LABEL x11 SOURCES modes/tst_r2kx11.cpp modes/XKeyRecorder.cpp
    modes/XKeyRecorder.h LIBS telvix_guisupport)
telvix_test(tst_terminalmode LABEL pty SOURCES modes/tst_terminalmode.cpp LIBS telvix_guisupport)
