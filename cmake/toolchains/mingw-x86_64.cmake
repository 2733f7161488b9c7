# 64-bit Windows build of the same sources. It exists so that the Windows
# backends can be tested under 64-bit Wine on hosts that cannot execute
# 32-bit code; the shipped client is the 32-bit build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VELTO_MINGW_TRIPLET x86_64-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
