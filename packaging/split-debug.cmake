# Run when the Windows files are installed (cmake --install, cpack): each
# installed file in JYN_STRIPPED ("BUILT|INSTALLED" pairs, INSTALLED relative
# to the prefix) is stripped, its symbols are kept beside the built file as
# BUILT.debug, and a debug link in the installed file names that file, so
# that gdb finds the symbols for a crash dump when the two lie side by side.
foreach(pair IN LISTS JYN_STRIPPED)
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 built)
    list(GET pair 1 installed)
    set(installed "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${installed}")
    foreach(step
            "${JYN_OBJCOPY};--only-keep-debug;${built};${built}.debug"
            "${JYN_STRIP};--strip-all;${installed}"
            "${JYN_OBJCOPY};--add-gnu-debuglink=${built}.debug;${installed}")
        execute_process(COMMAND ${step} RESULT_VARIABLE failed)
        if(failed)
            string(REPLACE ";" " " step "${step}")
            message(FATAL_ERROR "split-debug: '${step}' failed")
        endif()
    endforeach()
    message(STATUS "Stripped: ${installed} (symbols: ${built}.debug)")
endforeach()
