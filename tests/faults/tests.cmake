# SPDX-License-Identifier: MIT
# Faults of the line, the device node and the file, each through the main window.
telvix_test(tst_linefaults LABEL gui SOURCES faults/tst_linefaults.cpp faults/FaultSupport.cpp
    faults/FaultSupport.h send/SendTestSupport.cpp send/SendTestSupport.h modes/RecordingInjector.h
    LIBS telvix_guisupport)
telvix_test(tst_portfaults LABEL gui SOURCES faults/tst_portfaults.cpp faults/FaultSupport.cpp
    faults/FaultSupport.h send/SendTestSupport.cpp send/SendTestSupport.h modes/RecordingInjector.h
    LIBS telvix_guisupport)
# A serial server that stops reading while the window sends to it.
telvix_test(tst_networkstall LABEL gui SOURCES faults/tst_networkstall.cpp send/SendTestSupport.cpp
    send/SendTestSupport.h LIBS telvix_guisupport)
