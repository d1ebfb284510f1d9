# jsoncpp for every program of the project, as the target Corvexin::jsoncpp.
#
# By default it is a static, position-independent library built here from
# Debian's own source package libjsoncpp in jsoncpp/ (Debian ships no
# libjsoncpp.a): in a clone, scripts/install-deps unpacks it there, Debian's
# patches applied; in a tree unpacked from corvexin's source package it is the
# orig-jsoncpp component. Linked statically, the gate spends no start-up time in the
# dynamic linker on libjsoncpp.so; the price is that a jsoncpp fix reaches the
# gate only by rebuilding it. CORVEXIN_JSONCPP_STATIC=OFF takes the shared
# system library (libjsoncpp-dev) instead. Every program of one build links
# the same one: the gate, the policy tool, the tests and the fuzz targets.

option(CORVEXIN_JSONCPP_STATIC
  "Link jsoncpp statically, built from Debian's source package (OFF: the shared libjsoncpp)" ON)
set(CORVEXIN_JSONCPP_SOURCE ${PROJECT_SOURCE_DIR}/jsoncpp CACHE PATH
  "Unpacked Debian source package libjsoncpp (scripts/install-deps puts it there)")

if(CORVEXIN_JSONCPP_STATIC)
  set(lib_json ${CORVEXIN_JSONCPP_SOURCE}/src/lib_json)
  if(NOT EXISTS ${lib_json}/json_reader.cpp OR NOT EXISTS ${CORVEXIN_JSONCPP_SOURCE}/include/json/reader.h)
    message(FATAL_ERROR "No jsoncpp source in ${CORVEXIN_JSONCPP_SOURCE}: run scripts/install-deps --build, "
      "set CORVEXIN_JSONCPP_SOURCE, or configure with -DCORVEXIN_JSONCPP_STATIC=OFF for the shared "
      "system library")
  endif()
  # The library's three translation units, built with this project's
  # hardening, sanitizer and fuzzing flags; its own warnings are not ours.
  add_library(corvexin_jsoncpp STATIC
    ${lib_json}/json_reader.cpp ${lib_json}/json_value.cpp ${lib_json}/json_writer.cpp)
  target_include_directories(corvexin_jsoncpp SYSTEM PUBLIC ${CORVEXIN_JSONCPP_SOURCE}/include)
  target_include_directories(corvexin_jsoncpp PRIVATE ${lib_json})
  target_compile_options(corvexin_jsoncpp PRIVATE -w)
  set(jsoncpp_version unknown)
  if(EXISTS ${CORVEXIN_JSONCPP_SOURCE}/debian/changelog)
    file(STRINGS ${CORVEXIN_JSONCPP_SOURCE}/debian/changelog jsoncpp_version LIMIT_COUNT 1)
    string(REGEX REPLACE "^[^(]*\\(([^)]*)\\).*$" "\\1" jsoncpp_version "${jsoncpp_version}")
  endif()
  message(STATUS "jsoncpp: static, built from Debian's source ${jsoncpp_version} in ${CORVEXIN_JSONCPP_SOURCE}")
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
  add_library(corvexin_jsoncpp INTERFACE)
  target_link_libraries(corvexin_jsoncpp INTERFACE PkgConfig::JSONCPP)
  message(STATUS "jsoncpp: shared system library ${JSONCPP_VERSION} (${JSONCPP_LINK_LIBRARIES})")
endif()
add_library(Corvexin::jsoncpp ALIAS corvexin_jsoncpp)
