# 32-bit (i386) Linux build on an amd64 Debian host: g++ -m32 against the i386 runtime libraries.
#   cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=platform/linux-i386/toolchain.cmake -DSTARLACE_BENCH=OFF
# CMAKE_SYSTEM_NAME stays unset on purpose: find rules and ctest stay those of a native build. The
# data generators are built for the host and run from there (a kernel may run no 32-bit program).
# With STARLACE_I386_EMULATOR (e.g. qemu-i386) ctest starts every test program through it, and the
# end-to-end driver starts the program through it too.
set(STARLACE_HOST_GENERATORS ON CACHE BOOL "Build the data generators with the host's compiler and run those")
if(STARLACE_I386_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${STARLACE_I386_EMULATOR})
endif()

# SSE arithmetic keeps float results equal to the 64-bit build's (x87 would hold 80-bit
# intermediates and round differently).
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# Finds the i386 libraries and package configurations (GTest) under /usr/lib/i386-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

# pkg-config sees only i386 .pc files, ours first: Debian's SDL 1.2 -dev packages cannot be
# installed for i386 beside the amd64 ones, so ours pair the amd64 headers (the same for both)
# with the i386 runtime libraries, linked by their sonames.
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_LIBDIR}
    "${CMAKE_CURRENT_LIST_DIR}/pkgconfig:/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
