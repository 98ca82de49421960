#The control block's termios form: pure functions, part of the communications layer.
target_sources(commapi PRIVATE ${CMAKE_CURRENT_LIST_DIR} / termios_map.cpp)
