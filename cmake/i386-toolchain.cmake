# Builds for 32-bit x86 (i386) on an x86_64 Debian machine, with the multilib
# compiler and the libraries of Debian's i386 architecture:
#   dpkg --add-architecture i386 && apt-get update
#   apt-get install g++-multilib libjsoncpp-dev:i386 libcurl4-openssl-dev:i386 libaugeas-dev:i386
#   cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386-toolchain.cmake
# (scripts/install-deps --i386 does all of it.) jsoncpp is compiled with this
# toolchain from the same Debian source as the x86_64 build
# (cmake/jsoncpp.cmake); libjsoncpp-dev:i386 serves CORVEXIN_JSONCPP_STATIC=OFF.
# The x86_64 kernel runs the result directly, so the tests run as they are.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
# -m32 is part of the compiler command, so flags given on the command line
# (CMAKE_CXX_FLAGS and the like) add to it and cannot drop it.
set(CMAKE_C_COMPILER gcc -m32)
set(CMAKE_CXX_COMPILER g++ -m32)

# Libraries come from the i386 multiarch directory, never the x86_64 one.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_LIBRARY_PATH /usr/lib/i386-linux-gnu)

# pkg-config answers with the i386 .pc files only (the toolchain file is read
# again by every try_compile, so the environment is set on each read).
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

