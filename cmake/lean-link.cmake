# What keeps the programs small and quick to start, for a gate whose whole run
# is a few hundred microseconds of which the dynamic linker took the most:
# - every function and data object in a section of its own, and the linker
#   drops the sections that nothing references;
# - relative relocations packed into a DT_RELR table when the linker and the C
#   library's loader both support it (checked by linking and starting a
#   program that has one);
# - link-time optimisation of optimised builds (CORVEXIN_LTO), jsoncpp
#   included; not under the sanitizers or libFuzzer, whose builds are for
#   finding faults, not for shipping;
# - Corvexin::static_runtime, linked by the shipped programs (the gate and the
#   policy tool): libstdc++ and libgcc linked in, so that at start-up the
#   loader maps and relocates only the C library.

add_compile_options(-ffunction-sections -fdata-sections)
add_link_options(-Wl,--gc-sections)

if(NOT DEFINED CACHE{CORVEXIN_HAVE_RELR})
  set(relr_dir ${CMAKE_BINARY_DIR}/CMakeFiles/relr-check)
  file(WRITE ${relr_dir}/relr.cpp "static int value;\nint* pointer = &value;\nint main() { return *pointer; }\n")
  try_compile(relr_linked ${relr_dir}/build SOURCES ${relr_dir}/relr.cpp NO_CACHE
    LINK_OPTIONS -Wl,-z,pack-relative-relocs COPY_FILE ${relr_dir}/relr)
  set(relr OFF)
  if(relr_linked)
    # The x86_64 kernel runs an i386 build's check too; where the program
    # cannot run, the option is left out.
    execute_process(COMMAND ${relr_dir}/relr RESULT_VARIABLE relr_status OUTPUT_QUIET ERROR_QUIET)
    if(relr_status EQUAL 0)
      set(relr ON)
    endif()
  endif()
  set(CORVEXIN_HAVE_RELR ${relr} CACHE INTERNAL "The linker and the loader support DT_RELR")
  message(STATUS "Packed relative relocations (-z pack-relative-relocs): ${relr}")
endif()
if(CORVEXIN_HAVE_RELR)
  add_link_options(-Wl,-z,pack-relative-relocs)
endif()

option(CORVEXIN_LTO "Link-time optimisation in optimised builds" ON)
if(CORVEXIN_LTO AND NOT CORVEXIN_SANITIZE AND NOT CORVEXIN_FUZZ)
  include(CheckIPOSupported)
  check_ipo_supported(RESULT lto_supported OUTPUT lto_output)
  if(lto_supported)
    foreach(config RELEASE RELWITHDEBINFO MINSIZEREL)
      set(CMAKE_INTERPROCEDURAL_OPTIMIZATION_${config} ON)
    endforeach()
  else()
    message(STATUS "No link-time optimisation: ${lto_output}")
  endif()
endif()

if(NOT TARGET corvexin_static_runtime)
  add_library(corvexin_static_runtime INTERFACE)
  target_link_options(corvexin_static_runtime INTERFACE -static-libstdc++ -static-libgcc)
  add_library(Corvexin::static_runtime ALIAS corvexin_static_runtime)
endif()
