list(APPEND TELVIX_SCRIPT
    script/ScriptInbox.cpp script/ScriptInbox.h
    script/ScriptLine.h
    script/ScriptEngine.cpp script/ScriptEngine.h
)
