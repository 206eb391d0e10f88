# R2K mode under a real X server (run it with xvfb-run), by XTest and by the desktop portal.
add_executable(r2k_bench ${CMAKE_CURRENT_LIST_DIR}/r2k_bench.cpp
    ${PROJECT_SOURCE_DIR}/tests/modes/XKeyRecorder.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/Pty.cpp)
target_include_directories(r2k_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/modes
    ${PROJECT_SOURCE_DIR}/tests/support)
target_link_libraries(r2k_bench PRIVATE telvix_forms telvix_mockportal)
set_target_properties(r2k_bench PROPERTIES AUTOUIC OFF)
