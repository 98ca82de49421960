# Fuzzing of the Telnet/RFC 2217 client. telnet_fuzz_replay (any compiler) replays the committed
# seed corpus as a regression test; telnet_fuzz is the libFuzzer target (QORVEL_FUZZ, clang).
set(QORVEL_TELNET_SOURCES
    ${CMAKE_SOURCE_DIR}/src/platform/telnet.cpp
    ${CMAKE_SOURCE_DIR}/src/platform/telnet_comport.cpp)

add_executable(telnet_fuzz_replay
    ${CMAKE_CURRENT_LIST_DIR}/telnet_fuzz.cpp
    ${CMAKE_CURRENT_LIST_DIR}/corpus_replay.cpp
    ${QORVEL_TELNET_SOURCES})
target_include_directories(telnet_fuzz_replay PRIVATE ${CMAKE_SOURCE_DIR}/src)
add_test(NAME telnet_fuzz_corpus
         COMMAND telnet_fuzz_replay ${CMAKE_CURRENT_LIST_DIR}/corpus/telnet)

if(QORVEL_FUZZ)
    # The two sources are plain code without I/O, compiled here with coverage instrumentation.
    add_executable(telnet_fuzz ${CMAKE_CURRENT_LIST_DIR}/telnet_fuzz.cpp ${QORVEL_TELNET_SOURCES})
    target_include_directories(telnet_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/src)
    # QORVEL_FUZZ_FLAGS comes from engine.cmake, included before this fragment.
    target_compile_options(telnet_fuzz PRIVATE -fsanitize=fuzzer ${QORVEL_FUZZ_FLAGS})
    target_link_options(telnet_fuzz PRIVATE -fsanitize=fuzzer ${QORVEL_FUZZ_FLAGS})
endif()
