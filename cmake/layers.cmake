# The driver's layers, bottom to top: interface (the host's records and the
# log seam), serial, address, protocol, driver. Each is a library linked only
# to the layers below it that it may use.
#
# A layer's headers are reached through an include root of its own: a folder
# in the build tree holding just a link to the layer's source folder. A
# target therefore sees the headers of the layers it links and no others, and
# an include that points up the layers does not compile.
# (tools/check-layers.py checks the same rule over the sources.)
function(jyn_layer target layer)
    set(root ${PROJECT_BINARY_DIR}/include/${layer})
    if(NOT EXISTS ${root}/${layer})
        file(MAKE_DIRECTORY ${root})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${layer} ${root}/${layer} SYMBOLIC)
    endif()
    target_include_directories(${target} PUBLIC ${root})
    target_link_libraries(${target} PRIVATE jyn_warnings)
endfunction()
