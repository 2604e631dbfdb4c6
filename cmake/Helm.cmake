# Shared build helpers.
#
# helm_library(NAME DIR <dir> [RECURSE] [EXCLUDE <subdir>...] [LIBS <lib>...]
#              [PRIVATE <lib>...])
#   A static library of every .cpp/.c under DIR (relative to the calling
#   CMakeLists.txt). LIBS are our own libraries it stands on, linked PUBLIC
#   (their headers appear in its headers). PRIVATE are the outside packages
#   (SDL2, libpng, qhull, decoders) its sources use: linked PRIVATE, so their
#   include paths and definitions reach no library above it. The repository
#   root is on the include path, so headers are included as
#   "common/memory.h"; which library may include which is checked by the
#   include_graph test against the README's graph.
#
# helm_tests(NAME DIR <dir> [RECURSE] [LIBS <lib>...])
#   A GoogleTest executable of every .cpp under DIR, registered with CTest
#   test by test. Tests run headless (SDL offscreen video, dummy audio), get
#   HELM_SOURCE_DIR as a compile definition and work in a scratch folder of
#   their run (TestTmp() of tests/test_env.h).
#
# helm_test_sources(NAME)
#   How a test executable's own sources build: unoptimised (they are mostly
#   assertions; the libraries they call keep the build's optimisation, and
#   the sources build in a fraction of the time) with GoogleTest's header
#   precompiled once for all of them (they build with the same options and
#   definitions: HELM_SOURCE_DIR and HELM_BINARY_DIR).

set(HELM_EMPTY_SOURCE ${CMAKE_CURRENT_LIST_DIR}/empty.cpp)

function(_helm_glob out dir recurse)
  if(recurse)
    file(GLOB_RECURSE files CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  else()
    file(GLOB files CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  endif()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

function(helm_library name)
  cmake_parse_arguments(A "RECURSE" "DIR" "LIBS;PRIVATE;EXCLUDE" ${ARGN})
  get_filename_component(dir ${A_DIR} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  _helm_glob(srcs ${dir} ${A_RECURSE})
  foreach(ex ${A_EXCLUDE})
    list(FILTER srcs EXCLUDE REGEX "^${dir}/${ex}/")
  endforeach()
  add_library(${name} STATIC ${HELM_EMPTY_SOURCE} ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  if(A_LIBS)
    target_link_libraries(${name} PUBLIC ${A_LIBS})
  endif()
  if(A_PRIVATE)
    target_link_libraries(${name} PRIVATE ${A_PRIVATE})
  endif()
endfunction()

function(helm_test_sources name)
  # -Wno-subobject-linkage (gcc): a file's fixture in an anonymous namespace
  # is local to the file, though a unity batch includes the file.
  target_compile_options(${name} PRIVATE -O0 $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
  target_compile_definitions(${name} PRIVATE HELM_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    HELM_BINARY_DIR="${PROJECT_BINARY_DIR}")
  get_property(pch GLOBAL PROPERTY HELM_TEST_PCH)
  if(pch)
    target_precompile_headers(${name} REUSE_FROM ${pch})
  else()
    target_precompile_headers(${name} PRIVATE <gtest/gtest.h>)
    set_property(GLOBAL PROPERTY HELM_TEST_PCH ${name})
  endif()
  set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
endfunction()

function(helm_tests name)
  cmake_parse_arguments(A "RECURSE" "DIR" "LIBS" ${ARGN})
  get_filename_component(dir ${A_DIR} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  _helm_glob(srcs ${dir} ${A_RECURSE})
  if(NOT srcs)
    return()
  endif()
  # tests/test_env.cpp: each run works in a scratch folder of its own under
  # the system's temporary folder (tests/test_env.h).
  add_executable(${name} ${srcs} ${PROJECT_SOURCE_DIR}/tests/test_env.cpp)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  helm_test_sources(${name})
  # The test environment goes through "cmake -E env" as the launcher: the
  # ENVIRONMENT property of gtest_discover_tests loses every entry but the
  # first, because the module splits the list.
  set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
    ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)
  math(EXPR timeout "120 * ${HELM_TEST_TIME_SCALE}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${timeout} LABELS ${name})
endfunction()
