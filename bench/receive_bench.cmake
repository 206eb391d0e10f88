add_executable(receive_bench ${CMAKE_CURRENT_SOURCE_DIR}/receive_bench.cpp)
target_link_libraries(receive_bench PRIVATE telvix_controls)
set_target_properties(receive_bench PROPERTIES AUTOUIC OFF)
