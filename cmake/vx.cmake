# Shared build settings and helpers for every folder.

add_compile_options(-Wall -Wextra -Wno-unused-parameter)

if(VX_SANITIZE AND VX_TSAN)
  message(FATAL_ERROR "VX_SANITIZE and VX_TSAN cannot be combined")
endif()
if(VX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(VX_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(VX_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "VX_FUZZ needs clang")
endif()
if(VX_FUZZ)
  # Coverage instrumentation everywhere, so fuzzers explore the libraries too.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# GoogleTest's closing list of skipped tests, when it ends the output: the
# program is then reported as skipped. Anchored at the end, so a failed test
# (listed after the skipped ones) or a sanitizer report at exit keeps the
# program failed; ctest would otherwise take any match over the exit code.
set(VX_GTEST_SKIPPED
    "\\[  SKIPPED \\] [0-9]+ tests?, listed below:\n(\\[  SKIPPED \\] [^\n]*\n)+(\n  YOU HAVE [0-9]+ DISABLED TESTS?\n\n)?$")

# vx_gui_test_env(name): Qt keeps a runtime folder, made in /tmp when
# XDG_RUNTIME_DIR is unset; a GUI test gets one in the build tree instead, so
# that no run leaves anything in /tmp.
function(vx_gui_test_env name)
  set(dir ${CMAKE_BINARY_DIR}/test-runtime)
  if(NOT EXISTS ${dir})
    file(MAKE_DIRECTORY ${dir})
    file(CHMOD ${dir} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  endif()
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT_MODIFICATION "XDG_RUNTIME_DIR=set:${dir}")
endfunction()

# vx_test(NAME name SOURCES ... LIBS ... LABELS unit|netns|gui|peer [TIMEOUT s])
# One GoogleTest executable registered as one CTest test with its labels.
function(vx_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT} SKIP_REGULAR_EXPRESSION
                                            "${VX_GTEST_SKIPPED}")
  if("gui" IN_LIST T_LABELS)
    vx_gui_test_env(${T_NAME})
  endif()
endfunction()

# vx_fuzz(NAME name SOURCES ... LIBS ...)
# A libFuzzer target, run for VX_FUZZ_SECONDS inside the suite (label unit).
function(vx_fuzz)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT VX_FUZZ)
    return()
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${F_NAME}.corpus)
  file(MAKE_DIRECTORY ${corpus})
  add_test(NAME ${F_NAME} COMMAND ${F_NAME} -max_total_time=${VX_FUZZ_SECONDS} -rss_limit_mb=2048 ${corpus})
  set_tests_properties(${F_NAME} PROPERTIES LABELS "unit;fuzz" TIMEOUT 600)
endfunction()
