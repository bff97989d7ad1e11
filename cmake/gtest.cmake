# GoogleTest: the prebuilt Debian library fits the native build only. The
# 32-bit and mingw builds compile it from the sources Debian ships.
if(JYN_GTEST_FROM_SOURCE OR CMAKE_CROSSCOMPILING)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest_main)
        add_library(GTest::gtest ALIAS gtest)
        add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# Tests run in a folder of their own: the driver reads JYNMB*.INT from the
# current directory, and no stray station file may change what tests see.
set(JYN_TEST_WORK_DIR ${PROJECT_BINARY_DIR}/test-work)
file(MAKE_DIRECTORY ${JYN_TEST_WORK_DIR})

# A build for another kind of machine (the 32-bit Linux build on a kernel
# that runs only 64-bit programs) runs its tests under a user-mode emulator,
# or, where nothing can run them, builds them and reports them as skipped:
# the host's record layout is checked at compile time all the same.
set(JYN_TEST_EMULATOR "" CACHE STRING
    "Command that runs the test programs, such as /usr/bin/qemu-i386; empty: run them directly")
set(JYN_TEST_CANNOT_RUN "" CACHE STRING
    "Why this machine cannot run the test programs; when set they are built and reported as skipped")
set(JYN_SKIP_RETURN_CODE 77)
set(JYN_SKIP_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/skip-test.sh)

# Every test executable is registered through this, so each gets a time
# limit and, when cross-built, runs under the emulator the preset names.
function(jyn_add_gtest target)
    target_link_libraries(${target} PRIVATE GTest::gtest_main jyn_warnings)
    if(JYN_TEST_CANNOT_RUN)
        add_test(NAME ${target} COMMAND bash ${JYN_SKIP_SCRIPT} "${JYN_TEST_CANNOT_RUN}")
        set_tests_properties(${target} PROPERTIES SKIP_RETURN_CODE ${JYN_SKIP_RETURN_CODE})
        return()
    endif()
    set(environment "")
    if(JYN_TEST_EMULATOR)
        # Read by gtest_discover_tests, both for the list of tests at build
        # time and for every test it adds.
        set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR "${JYN_TEST_EMULATOR}")
        get_filename_component(emulator_name "${JYN_TEST_EMULATOR}" NAME)
        set(environment ENVIRONMENT "JYN_TEST_EMULATOR=${emulator_name}")
    endif()
    if(CMAKE_CROSSCOMPILING)
        # Under wine each process start costs a good part of a second, so a
        # cross-built test program runs whole, as one ctest test, and needs
        # no discovery run at build time. The fixture (tests/windows) makes
        # the wine prefix first and shuts its server down at the end.
        add_test(NAME ${target} COMMAND ${target})
        set_tests_properties(${target} PROPERTIES
            TIMEOUT 120
            SKIP_RETURN_CODE ${JYN_SKIP_RETURN_CODE}
            WORKING_DIRECTORY ${JYN_TEST_WORK_DIR}
            FIXTURES_REQUIRED jyn_wine)
        return()
    endif()
    gtest_discover_tests(${target}
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT 120 ${environment}
        WORKING_DIRECTORY ${JYN_TEST_WORK_DIR})
endfunction()
