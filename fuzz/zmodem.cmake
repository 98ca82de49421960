# Fuzzing of ZMODEM (both sides and the start recogniser). zmodem_fuzz_replay (any compiler) replays
# the committed seed corpus as a regression test; zmodem_fuzz is the libFuzzer target (QORVEL_FUZZ).
add_executable(zmodem_fuzz_replay ${CMAKE_CURRENT_LIST_DIR}/zmodem_fuzz.cpp ${CMAKE_CURRENT_LIST_DIR}/corpus_replay.cpp)
target_link_libraries(zmodem_fuzz_replay PRIVATE transfer)
add_test(NAME zmodem_fuzz_corpus COMMAND zmodem_fuzz_replay ${CMAKE_CURRENT_LIST_DIR}/corpus/zmodem)

if(QORVEL_FUZZ)
    # The protocol sources are compiled again with coverage instrumentation for this target only.
    get_target_property(QORVEL_TRANSFER_SOURCES transfer SOURCES)
    add_executable(zmodem_fuzz ${CMAKE_CURRENT_LIST_DIR}/zmodem_fuzz.cpp ${QORVEL_TRANSFER_SOURCES})
    target_include_directories(zmodem_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/src)
    # QORVEL_FUZZ_FLAGS comes from engine.cmake, included before this fragment.
    target_compile_options(zmodem_fuzz PRIVATE -fsanitize=fuzzer ${QORVEL_FUZZ_FLAGS})
    target_link_options(zmodem_fuzz PRIVATE -fsanitize=fuzzer ${QORVEL_FUZZ_FLAGS})
endif()
