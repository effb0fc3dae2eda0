# facelume_add_test(<source> [LIBS ...] [LABELS ...])
# Builds one GoogleTest program named after its source file (foo_test.cpp -> foo_test)
# and registers its tests with CTest.
include(GoogleTest)

function(facelume_add_test source)
    cmake_parse_arguments(ARG "" "" "LIBS;LABELS" ${ARGN})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    if(CMAKE_CROSSCOMPILING)
        # One CTest test per program: discovery would run each program under the emulator
        # (Wine) while building.
        add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
        # Windows finds a program's DLLs beside it: every project DLL the test needs, also those
        # it gets through another library, is copied there. The program itself is named too, so
        # the command has a source when it needs no DLL (copying a file onto itself is a no-op).
        add_custom_command(TARGET ${name} POST_BUILD
            COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_RUNTIME_DLLS:${name}>
                    $<TARGET_FILE:${name}> $<TARGET_FILE_DIR:${name}>
            COMMAND_EXPAND_LISTS VERBATIM)
    else()
        gtest_discover_tests(${name}
            WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests
            DISCOVERY_TIMEOUT 60
            PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()
