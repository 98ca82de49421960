# Fuzzing of the XMODEM/YMODEM engines. xymodem_fuzz_replay (any compiler) replays the committed
# seed corpus (written by make_xymodem_seeds.py) as a regression test; xymodem_fuzz is the
# libFuzzer target (QORVEL_FUZZ, clang).
add_executable(xymodem_fuzz_replay ${CMAKE_CURRENT_LIST_DIR}/xymodem_fuzz.cpp ${CMAKE_CURRENT_LIST_DIR}/corpus_replay.cpp)
target_link_libraries(xymodem_fuzz_replay PRIVATE transfer)
add_test(NAME xymodem_fuzz_corpus COMMAND xymodem_fuzz_replay ${CMAKE_CURRENT_LIST_DIR}/corpus/xymodem)

if(QORVEL_FUZZ)
    # The protocol sources are compiled again with coverage instrumentation for this target only.
    get_target_property(QORVEL_XY_SOURCES transfer SOURCES)
    add_executable(xymodem_fuzz ${CMAKE_CURRENT_LIST_DIR}/xymodem_fuzz.cpp ${QORVEL_XY_SOURCES})
    target_include_directories(xymodem_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/src)
    # QORVEL_FUZZ_FLAGS comes from engine.cmake, included before this fragment.
    target_compile_options(xymodem_fuzz PRIVATE -fsanitize=fuzzer ${QORVEL_FUZZ_FLAGS})
    target_link_options(xymodem_fuzz PRIVATE -fsanitize=fuzzer ${QORVEL_FUZZ_FLAGS})
endif()
