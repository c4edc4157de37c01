# tavex_header_only(NAME HEADER): sets NAME_INCLUDE to the folder that holds
# HEADER (CLI/CLI.hpp, toml++/toml.h) of a header-only library, or to
# nothing.  A cross build's sysroot does not carry such libraries, so there
# the build machine's copy is used: its folder is copied into the build
# tree, so that no other header of the build machine can come along with it.
function(tavex_header_only name header)
    find_path(TAVEX_${name}_INCLUDE_DIR ${header})
    set(found ${TAVEX_${name}_INCLUDE_DIR})
    if(NOT found AND CMAKE_CROSSCOMPILING)
        find_path(TAVEX_${name}_HOST_DIR ${header} PATHS /usr/include /usr/local/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
        if(TAVEX_${name}_HOST_DIR)
            string(REGEX REPLACE "/.*" "" folder ${header})
            file(COPY ${TAVEX_${name}_HOST_DIR}/${folder}
                DESTINATION ${CMAKE_CURRENT_BINARY_DIR}/${name})
            set(found ${CMAKE_CURRENT_BINARY_DIR}/${name})
        endif()
    endif()
    set(${name}_INCLUDE ${found} PARENT_SCOPE)
endfunction()
