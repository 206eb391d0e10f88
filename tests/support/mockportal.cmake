# SPDX-License-Identifier: MIT
# A stand-in for the desktop's side of the RemoteDesktop portal on a bus of the test's own, and
# what the tests and the R2K benchmark use to run it and read back what it was sent.
add_executable(telvix-mock-portal ${CMAKE_CURRENT_LIST_DIR}/mockportal.cpp)
target_link_libraries(telvix-mock-portal PRIVATE Qt6::Core Qt6::DBus)
set_target_properties(telvix-mock-portal PROPERTIES AUTOUIC OFF)
add_library(telvix_mockportal STATIC ${CMAKE_CURRENT_LIST_DIR}/MockPortal.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MockPortal.h)
target_include_directories(telvix_mockportal PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(telvix_mockportal PUBLIC Qt6::Core Qt6::DBus)
target_compile_definitions(telvix_mockportal
    PUBLIC TELVIX_MOCK_PORTAL_PATH="$<TARGET_FILE:telvix-mock-portal>")
set_target_properties(telvix_mockportal PROPERTIES AUTOMOC OFF AUTOUIC OFF)
add_dependencies(telvix_mockportal telvix-mock-portal)
