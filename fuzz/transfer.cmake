# Fuzzing of the file-transfer engines: X/YMODEM (seeds written by make_xymodem_seeds.py) and ZMODEM
# (both sides and the start recogniser). NAME_fuzz_replay (any compiler) replays the committed seed
# corpus as a regression test; NAME_fuzz is the libFuzzer target (QORVEL_FUZZ, clang).
get_target_property(QORVEL_TRANSFER_SOURCES transfer SOURCES)
foreach(name xymodem zmodem)
    add_executable(${name}_fuzz_replay ${CMAKE_CURRENT_LIST_DIR}/${name}_fuzz.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/corpus_replay.cpp)
    target_link_libraries(${name}_fuzz_replay PRIVATE transfer)
    add_test(NAME ${name}_fuzz_corpus COMMAND ${name}_fuzz_replay ${CMAKE_CURRENT_LIST_DIR}/corpus/${name})

    if(QORVEL_FUZZ)
        # The protocol sources are compiled again with coverage instrumentation for this target only;
        # QORVEL_FUZZ_FLAGS comes from engine.cmake, included before this fragment.
        add_executable(${name}_fuzz ${CMAKE_CURRENT_LIST_DIR}/${name}_fuzz.cpp ${QORVEL_TRANSFER_SOURCES})
        target_include_directories(${name}_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/src)
        target_compile_options(${name}_fuzz PRIVATE -fsanitize=fuzzer ${QORVEL_FUZZ_FLAGS})
        target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer ${QORVEL_FUZZ_FLAGS})
    endif()
endforeach()
