list(APPEND TELVIX_CORE
    traffic/IntText.cpp traffic/IntText.h
    traffic/Cp950.cpp traffic/Cp950.h
    traffic/DisplayFormatter.cpp traffic/DisplayFormatter.h
    traffic/TrafficText.cpp traffic/TrafficText.h
    traffic/FindQuery.cpp traffic/FindQuery.h
    traffic/Traffic.cpp traffic/Traffic.h
    traffic/LineEvents.cpp traffic/LineEvents.h
    traffic/TrafficCapture.cpp traffic/TrafficCapture.h
    traffic/TrafficRenderer.cpp traffic/TrafficRenderer.h
    traffic/LogFormat.cpp traffic/LogFormat.h
    traffic/SystemError.cpp traffic/SystemError.h
    traffic/LiveLog.cpp traffic/LiveLog.h
    traffic/CaptureExport.cpp traffic/CaptureExport.h
    traffic/LineState.h
    traffic/ControlCodes.cpp traffic/ControlCodes.h
    traffic/Logging.cpp traffic/Logging.h
    traffic/HexInput.cpp traffic/HexInput.h
    traffic/Checksum.cpp traffic/Checksum.h
    traffic/ModbusFrames.cpp traffic/ModbusFrames.h
)
