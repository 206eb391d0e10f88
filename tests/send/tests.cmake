telvix_test(tst_sendcore LABEL core SOURCES send/tst_sendcore.cpp LIBS telvix_core)
telvix_test(tst_commandlist LABEL core SOURCES send/tst_commandlist.cpp LIBS telvix_core)
telvix_test(tst_autoreply LABEL core SOURCES send/tst_autoreply.cpp LIBS telvix_core)
telvix_test(tst_picker LABEL gui SOURCES send/tst_picker.cpp LIBS telvix_guisupport)
telvix_test(tst_filesend LABEL gui SOURCES send/tst_filesend.cpp send/SendTestSupport.cpp
    send/SendTestSupport.h LIBS telvix_guisupport)
telvix_test(tst_stringsend LABEL gui SOURCES send/tst_stringsend.cpp send/SendTestSupport.cpp
    send/SendTestSupport.h LIBS telvix_guisupport)
