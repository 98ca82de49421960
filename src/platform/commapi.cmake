# Communications layer: the Win32-shaped interface with its POSIX termios implementation and
# its network implementation (Telnet/RFC 2217 and raw TCP), the in-memory fake for tests, and
# the main-thread call service.
add_library(commapi STATIC
    ${CMAKE_CURRENT_LIST_DIR}/commapi.cpp
    ${CMAKE_CURRENT_LIST_DIR}/comm_posix.cpp
    ${CMAKE_CURRENT_LIST_DIR}/termios2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/comm_net.cpp
    ${CMAKE_CURRENT_LIST_DIR}/telnet.cpp
    ${CMAKE_CURRENT_LIST_DIR}/telnet_comport.cpp)
target_include_directories(commapi PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(commapi PUBLIC Threads::Threads)

add_library(commapi_fake STATIC ${CMAKE_CURRENT_LIST_DIR}/comm_fake.cpp)
target_link_libraries(commapi_fake PUBLIC commapi)

add_library(mainthread STATIC ${CMAKE_CURRENT_LIST_DIR}/mainthread.cpp)
target_include_directories(mainthread PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(mainthread PUBLIC Threads::Threads)
