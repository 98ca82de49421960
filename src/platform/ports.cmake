# The machine's serial ports from libudev: enumeration and the hot-plug monitor. No Qt.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUDEV REQUIRED IMPORTED_TARGET libudev)

add_library(ports STATIC ${CMAKE_CURRENT_LIST_DIR}/ports.cpp ${CMAKE_CURRENT_LIST_DIR}/ports.h)
target_include_directories(ports PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(ports PUBLIC commapi PRIVATE PkgConfig::LIBUDEV)
set_target_properties(ports PROPERTIES AUTOMOC OFF)
