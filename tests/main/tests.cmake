telvix_test(tst_modetable LABEL core SOURCES main/tst_modetable.cpp LIBS telvix_core)
telvix_test(tst_coretext LABEL core SOURCES main/tst_coretext.cpp LIBS telvix_core)
telvix_test(tst_mainwindow LABEL gui SOURCES main/tst_mainwindow.cpp LIBS telvix_guisupport)
telvix_test(tst_formatter LABEL core SOURCES main/tst_formatter.cpp LIBS telvix_core)
