# CPack runs this once the files of the zip are in place and before it packs
# them: SHA256SUMS at the top lists every file with its SHA-256, in the form
# "sha256sum -c" reads.
set(top "${CPACK_TEMPORARY_DIRECTORY}")
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${top}" "${top}/*")
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(file IN LISTS files)
    file(SHA256 "${top}/${file}" sum)
    string(APPEND sums "${sum}  ${file}\n")
endforeach()
file(WRITE "${top}/SHA256SUMS" "${sums}")
message(STATUS "SHA256SUMS: ${top}/SHA256SUMS")
