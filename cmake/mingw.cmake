# Cross toolchain for Windows with mingw-w64, posix thread model (std::thread).
# MIXTALLY_ARCH picks the target: i686 (the product's target) or x86_64 (for
# machines whose kernel cannot run 32-bit code, where only wine64 works).
if(NOT MIXTALLY_ARCH)
  set(MIXTALLY_ARCH i686)
endif()
set(MIXTALLY_ARCH ${MIXTALLY_ARCH} CACHE STRING "i686 or x86_64")
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MIXTALLY_ARCH})
set(_tc ${MIXTALLY_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER   ${_tc}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_tc}-g++-posix)
set(CMAKE_RC_COMPILER  ${_tc}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_tc})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
