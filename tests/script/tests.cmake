telvix_test(tst_scriptengine LABEL pty SOURCES script/tst_scriptengine.cpp
    LIBS telvix_script telvix_testsupport)
target_compile_definitions(tst_scriptengine PRIVATE TELVIX_SIM_PATH="$<TARGET_FILE:telvix-sim>")
add_dependencies(tst_scriptengine telvix-sim)
