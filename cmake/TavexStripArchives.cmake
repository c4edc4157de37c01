# Run by CPack once the packages' files are staged, before they are packed:
# the static libraries (libtavex_sim.a, libtavex_plant.a) lose their debug
# sections, as Debian ships them; the programs and the shared library are
# split into stripped files and -dbgsym packages by CPack itself.
file(GLOB_RECURSE archives LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.a")
foreach(archive IN LISTS archives)
    execute_process(COMMAND "${CPACK_TAVEX_STRIP}" --strip-debug --remove-section=.comment
                            --enable-deterministic-archives "${archive}"
                    RESULT_VARIABLE result ERROR_VARIABLE error)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "strip of ${archive} failed: ${error}")
    endif()
endforeach()
