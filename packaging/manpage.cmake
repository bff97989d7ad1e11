# Makes OUT/jynmb.1.gz: help2man over `JYNMB --help`, with INCLUDE and a
# COMMANDS section of every command's own --help, so that the page says
# what the program says and nothing written twice can drift apart.
#   cmake -DJYNMB=... -DHELP2MAN=... -DGZIP=... -DVERSION=... -DINCLUDE=... -DOUT=... -P manpage.cmake

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(failed)
        string(REPLACE ";" " " command "${ARGN}")
        message(FATAL_ERROR "manpage: '${command}' failed: ${err}")
    endif()
    set(out "${out}" PARENT_SCOPE)
endfunction()

# Text as roff shows it as it is, line for line, in the no-fill block the
# section puts it in.
function(roff_literal text out_var)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# A sanitizer build's jynmb would count what a short run leaves to the exit
# as leaks and fail.
set(ENV{ASAN_OPTIONS} "detect_leaks=0")
run(${JYNMB} --help)
string(REGEX MATCH "Commands:\n(  [a-z]+ [^\n]*\n)+" listing "${out}")
string(REGEX MATCHALL "\n  [a-z]+ " names "${listing}")
set(section "[COMMANDS]\n")
foreach(name IN LISTS names)
    string(STRIP "${name}" name)
    run(${JYNMB} ${name} --help)
    roff_literal("${out}" text)
    string(APPEND section ".SS jynmb ${name}\n.nf\n${text}.fi\n")
endforeach()
if(NOT names)
    message(FATAL_ERROR "manpage: no commands in '${JYNMB} --help'")
endif()
file(WRITE ${OUT}/commands.h2m "${section}")

run(${HELP2MAN} --no-info --no-discard-stderr --version-string=${VERSION} --section=1
    "--name=stand-in host for the JYNMB MELSEC-A serial PLC driver"
    --include=${OUT}/commands.h2m --include=${INCLUDE} --output=${OUT}/jynmb.1 ${JYNMB})
run(${GZIP} -9nf ${OUT}/jynmb.1)
