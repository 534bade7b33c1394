# Short fuzzing runs of the simulated-drives file and settings file readers, in
# the clang build tree the other fuzzers use (included from tests/).
foreach(fuzzer simulated_drives_fuzz settings_file_fuzz)
    add_test(NAME ${fuzzer}
        COMMAND ${PROJECT_SOURCE_DIR}/tests/fuzz/run_fuzz.sh ${PROJECT_SOURCE_DIR}
                ${CMAKE_BINARY_DIR}/tests/smart/fuzz 1000000 20 ${fuzzer})
    set_tests_properties(${fuzzer} PROPERTIES LABELS fuzz SKIP_RETURN_CODE 77 TIMEOUT 900
        RESOURCE_LOCK zentrova_fuzz_build)
endforeach()
