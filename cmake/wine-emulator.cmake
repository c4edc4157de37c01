# Included by both MinGW toolchain files, after CMAKE_SYSTEM_PROCESSOR.
#
# CTest starts every test program of a Windows cross build through
# cmake/wine-run.sh, which runs it under Wine in the build folder's own Wine
# prefix (build/<preset>/wineprefix, made on first use): 32-bit for i686,
# 64-bit for x86_64.  add_test(NAME x COMMAND <target>) picks this up by
# itself for executable targets.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh
    ${CMAKE_SYSTEM_PROCESSOR}
    ${CMAKE_BINARY_DIR}/wineprefix)
