# Fuzzing of the terminal engine. screen_fuzz_replay (any compiler) replays the committed seed
# corpus as a regression test; screen_fuzz is the libFuzzer target (QORVEL_FUZZ, clang).
add_executable(screen_fuzz_replay
    ${CMAKE_CURRENT_LIST_DIR}/screen_fuzz.cpp
    ${CMAKE_CURRENT_LIST_DIR}/corpus_replay.cpp)
target_link_libraries(screen_fuzz_replay PRIVATE emulvt_core)
add_test(NAME screen_fuzz_corpus
         COMMAND screen_fuzz_replay ${CMAKE_CURRENT_LIST_DIR}/corpus/screen)

if(QORVEL_FUZZ)
    # The engine is compiled again with coverage instrumentation for this target only, so the
    # other targets of a fuzz build stay as they are.
    set(QORVEL_FUZZ_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    get_target_property(QORVEL_ENGINE_SOURCES emulvt_core SOURCES)
    add_library(emulvt_core_fuzz STATIC ${QORVEL_ENGINE_SOURCES})
    target_include_directories(emulvt_core_fuzz PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(emulvt_core_fuzz PUBLIC platform_sinks)
    target_compile_options(emulvt_core_fuzz PRIVATE -fsanitize=fuzzer-no-link ${QORVEL_FUZZ_FLAGS})

    add_executable(screen_fuzz ${CMAKE_CURRENT_LIST_DIR}/screen_fuzz.cpp)
    target_link_libraries(screen_fuzz PRIVATE emulvt_core_fuzz)
    target_compile_options(screen_fuzz PRIVATE -fsanitize=fuzzer ${QORVEL_FUZZ_FLAGS})
    target_link_options(screen_fuzz PRIVATE -fsanitize=fuzzer ${QORVEL_FUZZ_FLAGS})
endif()
