# Static analysis as tests of the plain build (./run-tests turns it on with
# CORVEXIN_LINT): shellcheck on every shell script, and clang-tidy with the
# repository's .clang-tidy on each source file of gate/, config/ and tools/,
# one test a file so that ctest runs them in parallel with the others.
# clang-tidy reads the compile commands of this build (compile_commands.json).
find_program(CORVEXIN_CLANG_TIDY NAMES clang-tidy-14 clang-tidy REQUIRED)
find_program(CORVEXIN_SHELLCHECK shellcheck REQUIRED)
add_test(NAME shellcheck COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-shell)
file(GLOB lint_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/gate/*.cpp ${PROJECT_SOURCE_DIR}/config/*.cpp ${PROJECT_SOURCE_DIR}/tools/*.cpp)
foreach(source IN LISTS lint_sources)
  file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR} ${source})
  string(REGEX REPLACE "\\.cpp$" "" name ${name})
  add_test(NAME clang_tidy_${name}
    COMMAND ${CORVEXIN_CLANG_TIDY} -p ${PROJECT_BINARY_DIR} --quiet ${source})
endforeach()
