# Where the built files go when installed, and the release packages:
#   Linux    `cmake --install` to any prefix, and `cpack` in the build:
#            jynmb_<version>_<arch>.deb, with jynmb-dbgsym_<version>_<arch>.ddeb
#            holding the debug symbols the package's files are stripped of
#   Windows  `cpack` in the mingw-i686 build: jynmb-<version>-win32.zip
# The folders define the targets; this file only places them. The packages
# land in <build>/packages. project(VERSION) is the only version there is.

if(NOT DEFINED CMAKE_INSTALL_DOCDIR)
    set(CMAKE_INSTALL_DOCDIR share/doc/jynmb CACHE PATH "Documentation (DATAROOTDIR/doc/jynmb)")
endif()
include(GNUInstallDirs)

set(JYN_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(JYN_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)
set(JYN_COPYRIGHT_HOLDERS "The JYNMB developers")
set(JYN_PACKAGE_CONTACT "The JYNMB developers <jynmb@example.invalid>" CACHE STRING
    "Maintainer named in the packages: name <address>")
file(MAKE_DIRECTORY ${JYN_PACKAGING_OUT})

# --- Windows: the version resources and the zip ------------------------------

# A VERSIONINFO resource for TARGET, whose file is FILE, of Windows file type
# TYPE (VFT_DLL, VFT_APP), described by DESCRIPTION in its Properties.
function(jyn_version_resource target file type description)
    set(JYN_RC_FILE ${file})
    set(JYN_RC_TYPE ${type})
    set(JYN_RC_DESCRIPTION ${description})
    get_filename_component(JYN_RC_NAME ${file} NAME_WE)
    foreach(part MAJOR MINOR PATCH TWEAK)
        if(NOT PROJECT_VERSION_${part})
            set(PROJECT_VERSION_${part} 0)
        endif()
    endforeach()
    set(JYN_RC_VERSION
        "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK}")
    configure_file(${JYN_PACKAGING_DIR}/version.rc.in ${JYN_PACKAGING_OUT}/${JYN_RC_NAME}.rc @ONLY)
    target_sources(${target} PRIVATE ${JYN_PACKAGING_OUT}/${JYN_RC_NAME}.rc)
endfunction()

# One of the docs as a page a Windows user can open: OUTPUT_VAR gets its path.
function(jyn_html_page markdown output_var)
    get_filename_component(name ${markdown} NAME_WE)
    set(page ${JYN_PACKAGING_OUT}/${name}.html)
    add_custom_command(OUTPUT ${page}
        COMMAND Python3::Interpreter ${JYN_PACKAGING_DIR}/md-to-html.py ${JYN_CMARK_GFM}
            ${markdown} ${page} ${ARGN}
        DEPENDS ${markdown} ${JYN_PACKAGING_DIR}/md-to-html.py
        COMMENT "Rendering ${name}.html"
        VERBATIM)
    set(${output_var} ${page} PARENT_SCOPE)
endfunction()

if(WIN32)
    jyn_version_resource(RAVEVUD RAVEVUD.dll VFT_DLL "JYNMB MELSEC-A computer link driver")
    jyn_version_resource(TAVORN TAVORN.dll VFT_DLL
        "JYNMB stand-in for the host's logging library, for testing only")
    if(TARGET jynmb)
        jyn_version_resource(jynmb jynmb.exe VFT_APP "JYNMB stand-in host (jynmb)")
    endif()

    # RAVEVUD.dll alone at the top: the one file that goes beside a host.
    # The stand-in host and its TAVORN.dll are kept apart under tools\.
    install(FILES $<TARGET_FILE:RAVEVUD> DESTINATION .)
    install(FILES $<TARGET_FILE:TAVORN> DESTINATION tools)
    set(stripped "$<TARGET_FILE:RAVEVUD>|RAVEVUD.dll" "$<TARGET_FILE:TAVORN>|tools/TAVORN.dll")
    if(TARGET jynmb)
        install(FILES $<TARGET_FILE:jynmb> DESTINATION tools)
        list(APPEND stripped "$<TARGET_FILE:jynmb>|tools/jynmb.exe")
    endif()
    # Stripped when installed; the symbols stay beside the build's files as
    # NAME.debug, which a debug link in the installed file names.
    install(CODE "
        set(JYN_OBJCOPY \"${CMAKE_OBJCOPY}\")
        set(JYN_STRIP \"${CMAKE_STRIP}\")
        set(JYN_STRIPPED \"${stripped}\")
        include(\"${JYN_PACKAGING_DIR}/split-debug.cmake\")")

    configure_file(${JYN_PACKAGING_DIR}/README-tools.txt ${JYN_PACKAGING_OUT}/README.txt
        @ONLY NEWLINE_STYLE CRLF)
    configure_file(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${JYN_PACKAGING_OUT}/CHANGELOG.md
        @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${JYN_PACKAGING_OUT}/README.txt DESTINATION tools)
    install(FILES ${JYN_PACKAGING_OUT}/CHANGELOG.md DESTINATION docs)

    find_package(Python3 COMPONENTS Interpreter)
    find_program(JYN_CMARK_GFM cmark-gfm)
    if(Python3_Interpreter_FOUND AND JYN_CMARK_GFM)
        set(shipped user-guide.md windows.md)
        set(pages "")
        foreach(doc ${shipped})
            jyn_html_page(${PROJECT_SOURCE_DIR}/docs/${doc} page ${shipped})
            list(APPEND pages ${page})
        endforeach()
        add_custom_target(jyn_html_docs ALL DEPENDS ${pages})
        install(FILES ${pages} DESTINATION docs)
    else()
        message(WARNING "cmark-gfm or python3 missing: the zip will lack the HTML docs "
                        "(tools/install-deps.sh installs them)")
    endif()

    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME jynmb-${PROJECT_VERSION}-win32)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
    set(CPACK_PRE_BUILD_SCRIPTS ${JYN_PACKAGING_DIR}/sha256sums.cmake)
endif()

# --- Linux: install rules and the Debian package ----------------------------

if(NOT WIN32)
    # The driver looks for libTAVORN.so beside itself and jynmb for the driver
    # beside itself, as in a host's installation: all three share a private
    # folder, and the command on the PATH is a link to jynmb there (the
    # loader and jynmb both follow it to the real file).
    set(JYN_INSTALL_PRIVATEDIR ${CMAKE_INSTALL_LIBDIR}/jynmb)
    install(TARGETS RAVEVUD TAVORN LIBRARY DESTINATION ${JYN_INSTALL_PRIVATEDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
                  ${PROJECT_SOURCE_DIR}/docs/user-guide.md ${JYN_PACKAGING_DIR}/copyright
            DESTINATION ${CMAKE_INSTALL_DOCDIR})

    find_program(JYN_GZIP gzip)
    # The Debian changelog of the release: one entry pointing at CHANGELOG.md.
    string(TIMESTAMP JYN_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
    configure_file(${JYN_PACKAGING_DIR}/changelog.Debian.in ${JYN_PACKAGING_OUT}/changelog @ONLY)
    add_custom_command(OUTPUT ${JYN_PACKAGING_OUT}/changelog.gz
        COMMAND ${JYN_GZIP} -9nf ${JYN_PACKAGING_OUT}/changelog -c > ${JYN_PACKAGING_OUT}/changelog.gz
        DEPENDS ${JYN_PACKAGING_OUT}/changelog)
    set(generated ${JYN_PACKAGING_OUT}/changelog.gz)
    install(FILES ${JYN_PACKAGING_OUT}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

    if(TARGET jynmb)
        install(TARGETS jynmb RUNTIME DESTINATION ${JYN_INSTALL_PRIVATEDIR})
        file(RELATIVE_PATH link_target ${CMAKE_INSTALL_FULL_BINDIR}
             ${CMAKE_INSTALL_FULL_LIBDIR}/jynmb/jynmb)
        install(CODE "
            set(bindir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
            file(MAKE_DIRECTORY \"\${bindir}\")
            message(STATUS \"Installing: \${bindir}/jynmb -> ${link_target}\")
            file(CREATE_LINK \"${link_target}\" \"\${bindir}/jynmb\" SYMBOLIC)")

        # The manual page: jynmb's own --help, each command's --help and
        # packaging/jynmb.h2m, put together by help2man.
        find_program(JYN_HELP2MAN help2man)
        if(JYN_HELP2MAN AND JYN_GZIP AND NOT CMAKE_CROSSCOMPILING)
            add_custom_command(OUTPUT ${JYN_PACKAGING_OUT}/jynmb.1.gz
                COMMAND ${CMAKE_COMMAND} -DJYNMB=$<TARGET_FILE:jynmb> -DHELP2MAN=${JYN_HELP2MAN}
                    -DGZIP=${JYN_GZIP} -DVERSION=${PROJECT_VERSION}
                    -DINCLUDE=${JYN_PACKAGING_DIR}/jynmb.h2m -DOUT=${JYN_PACKAGING_OUT}
                    -P ${JYN_PACKAGING_DIR}/manpage.cmake
                DEPENDS jynmb ${JYN_PACKAGING_DIR}/manpage.cmake ${JYN_PACKAGING_DIR}/jynmb.h2m
                COMMENT "Making the jynmb manual page"
                VERBATIM)
            list(APPEND generated ${JYN_PACKAGING_OUT}/jynmb.1.gz)
            install(FILES ${JYN_PACKAGING_OUT}/jynmb.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
        else()
            message(WARNING "help2man or gzip missing, or a cross build: no manual page "
                            "(tools/install-deps.sh installs help2man)")
        endif()
    endif()
    add_custom_target(jyn_package_files ALL DEPENDS ${generated})

    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # jynmb needs libTAVORN.so, which this package brings itself.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${JYN_INSTALL_PRIVATEDIR})
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    # Stripped files in the package, their symbols in jynmb-dbgsym.
    set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
    file(READ ${JYN_PACKAGING_DIR}/description.txt CPACK_DEBIAN_PACKAGE_DESCRIPTION)
    string(STRIP "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}" CPACK_DEBIAN_PACKAGE_DESCRIPTION)
endif()

set(CPACK_PACKAGE_NAME jynmb)
set(CPACK_PACKAGE_VENDOR ${JYN_COPYRIGHT_HOLDERS})
set(CPACK_PACKAGE_CONTACT ${JYN_PACKAGE_CONTACT})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "driver for Mitsubishi MELSEC-A PLCs on a serial line")
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
