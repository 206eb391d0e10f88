telvix_test(tst_scriptengine LABEL pty SOURCES script/tst_scriptengine.cpp
    LIBS telvix_script telvix_testsupport)
target_compile_definitions(tst_scriptengine PRIVATE TELVIX_SIM_PATH="$<TARGET_FILE:telvix-sim>")
add_dependencies(tst_scriptengine telvix-sim)
telvix_test(tst_scriptrun LABEL pty SOURCES script/tst_scriptrun.cpp LIBS Qt6::Core)
target_compile_definitions(tst_scriptrun PRIVATE TELVIX_SIM_PATH="$<TARGET_FILE:telvix-sim>"
    TELVIX_PATH="$<TARGET_FILE:telvix>")
add_dependencies(tst_scriptrun telvix-sim telvix)
