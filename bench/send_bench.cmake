# The file and string sends through a pty: gaps, throughput, Break response and memory.
add_executable(send_bench ${CMAKE_CURRENT_LIST_DIR}/send_bench.cpp)
target_link_libraries(send_bench PRIVATE telvix_controls)
set_target_properties(send_bench PROPERTIES AUTOUIC OFF)
