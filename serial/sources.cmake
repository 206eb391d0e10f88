list(APPEND TELVIX_CORE
    serial/PortSettings.cpp serial/PortSettings.h
    serial/ParmrkDecoder.cpp serial/ParmrkDecoder.h
    serial/Rfc2217.cpp serial/Rfc2217.h
    serial/NetworkAddress.cpp serial/NetworkAddress.h
    serial/PortInfo.cpp serial/PortInfo.h
    serial/PermissionHint.cpp serial/PermissionHint.h
)
list(APPEND TELVIX_PLATFORM
    serial/SerialLine.cpp serial/SerialLine.h
    serial/SerialPort.cpp serial/SerialPort.h
    serial/NetworkLine.cpp serial/NetworkLine.h
    serial/Comeback.cpp serial/Comeback.h
    serial/LineControl.cpp serial/LineControl.h
    serial/LineWatcher.cpp serial/LineWatcher.h
    serial/SerialSpeed2.cpp serial/SerialSpeed2.h
    serial/PassThroughPty.cpp serial/PassThroughPty.h
    serial/PortScan.cpp serial/PortScan.h serial/PortDirectory.h
    serial/VirtualPorts.cpp serial/VirtualPorts.h
    serial/UserGroups.cpp serial/UserGroups.h
)
list(APPEND TELVIX_FORMS
    serial/Telvixmain2.cpp serial/Telvixmain2.h serial/Telvixmain2.ui
    serial/MonitorDialog.cpp serial/MonitorDialog.h
)
