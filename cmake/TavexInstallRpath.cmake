# The installed programs (tavex, the gateway) find libtavex.so.0 through an
# RPATH relative to where they lie, $ORIGIN/../lib, or
# $ORIGIN/../lib/x86_64-linux-gnu for a Debian multiarch library folder: an
# installed tree starts wherever it is put (cmake --install --prefix, dpkg -x)
# without LD_LIBRARY_PATH.  Under /usr the path leads to the system's own
# library folder and changes nothing.  The build tree keeps its own RPATH.
#
# Included right after GNUInstallDirs, before the first target: the
# variable is read when a target is defined.  A target with an install
# folder of its own (the Python module) sets INSTALL_RPATH itself.
if(NOT WIN32 AND NOT APPLE)
    file(RELATIVE_PATH _tavex_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set(CMAKE_INSTALL_RPATH "$ORIGIN/${_tavex_bin_to_lib}")
    unset(_tavex_bin_to_lib)
endif()
