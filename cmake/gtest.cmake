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

# Every test executable is registered through this, so each gets a time
# limit and, when cross-built, runs under the emulator the preset names.
function(jyn_add_gtest target)
    target_link_libraries(${target} PRIVATE GTest::gtest_main jyn_warnings)
    if(CMAKE_CROSSCOMPILING)
        # Under wine each process start costs a good part of a second, so a
        # cross-built test program runs whole, as one ctest test, and needs
        # no discovery run at build time. The fixture (tests/windows) makes
        # the wine prefix first and shuts its server down at the end.
        add_test(NAME ${target} COMMAND ${target})
        set_tests_properties(${target} PROPERTIES
            TIMEOUT 120
            WORKING_DIRECTORY ${JYN_TEST_WORK_DIR}
            FIXTURES_REQUIRED jyn_wine)
        return()
    endif()
    gtest_discover_tests(${target}
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT 120
        WORKING_DIRECTORY ${JYN_TEST_WORK_DIR})
endfunction()
