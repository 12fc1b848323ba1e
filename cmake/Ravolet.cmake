# Shared build settings for every target of the project.

# Warnings are errors in the project's own builds; the Debian package's build
# keeps them warnings, as Debian asks, since a newer compiler or the
# distribution's hardening flags may bring new ones.
option(RAVOLET_WERROR "Treat compiler warnings as errors" ON)
set(RAVOLET_WARNINGS -Wall -Wextra)
if(RAVOLET_WERROR)
  list(APPEND RAVOLET_WARNINGS -Werror)
endif()

# clang before 19 with libstdc++ 12: that library offers std::expected only to
# compilers that announce C++20 concepts in full (__cpp_concepts 202002L),
# which clang 16 implements but does not yet announce. Say so for it, when that
# is what makes <expected> work.
include(CheckCXXSourceCompiles)
set(_ravolet_expected_probe "#include <expected>\nint main() { std::expected<int, int> e{1}; return *e - 1; }")
check_cxx_source_compiles("${_ravolet_expected_probe}" RAVOLET_HAS_EXPECTED)
if(NOT RAVOLET_HAS_EXPECTED AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(CMAKE_REQUIRED_FLAGS "-Wno-macro-redefined -D__cpp_concepts=202002L")
  check_cxx_source_compiles("${_ravolet_expected_probe}" RAVOLET_HAS_EXPECTED_WITH_CONCEPTS)
  unset(CMAKE_REQUIRED_FLAGS)
  if(RAVOLET_HAS_EXPECTED_WITH_CONCEPTS)
    add_compile_options(-Wno-macro-redefined -D__cpp_concepts=202002L)
  endif()
endif()
if(NOT RAVOLET_HAS_EXPECTED AND NOT RAVOLET_HAS_EXPECTED_WITH_CONCEPTS)
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} cannot compile std::expected; use g++ 12 or clang 16 or later")
endif()

if(RAVOLET_SANITIZE STREQUAL "asan")
  set(RAVOLET_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(RAVOLET_SANITIZE STREQUAL "tsan")
  set(RAVOLET_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT RAVOLET_SANITIZE STREQUAL "")
  message(FATAL_ERROR "RAVOLET_SANITIZE must be empty, asan or tsan")
endif()
# Under the sanitizers g++ 12 misreads moves of optionals and variants that
# hold strings as reads of uninitialized memory; the plain build keeps that
# warning as an error, where it means what it says.
if(RAVOLET_SANITIZER_FLAGS AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND RAVOLET_SANITIZER_FLAGS -Wno-maybe-uninitialized)
endif()
# A sanitizer's report needs function names and lines, not the full debug
# information: with it, each sanitized build folder held several gigabytes
# and a CI machine's disk ran out while linking.
if(RAVOLET_SANITIZER_FLAGS)
  list(APPEND RAVOLET_SANITIZER_FLAGS -g1)
endif()

# Fuzzing: every target carries libFuzzer's coverage instrumentation; only the
# fuzzers themselves link its driver (ravolet_fuzzer below).
if(RAVOLET_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "RAVOLET_FUZZ needs clang (for example -DCMAKE_CXX_COMPILER=clang++-16)")
  endif()
  list(APPEND RAVOLET_SANITIZER_FLAGS -fsanitize=fuzzer-no-link)
endif()

function(ravolet_target_options target)
  target_compile_options(${target} PRIVATE ${RAVOLET_WARNINGS} ${RAVOLET_SANITIZER_FLAGS})
  target_link_options(${target} PRIVATE ${RAVOLET_SANITIZER_FLAGS})
endfunction()

# ravolet_module(NAME [SOURCE_DIRS folder...] DEPS dep...)
# A library from every .cpp in the calling folder and its sub-folders (such as
# Simulated/ and Linux/), or only in SOURCE_DIRS, sub-folders of the calling
# folder, for a folder that holds more than one target. Headers are included
# as "Module/Header.hpp" from the source root.
function(ravolet_module name)
  cmake_parse_arguments(ARG "" "" "SOURCE_DIRS;DEPS" ${ARGN})
  set(patterns "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  if(ARG_SOURCE_DIRS)
    list(TRANSFORM ARG_SOURCE_DIRS PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/" OUTPUT_VARIABLE patterns)
    list(TRANSFORM patterns APPEND "/*.cpp")
  endif()
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${patterns})
  if(NOT sources)
    # A module whose code is all in headers so far.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${CMAKE_SOURCE_DIR}")
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    target_link_options(${name} INTERFACE ${RAVOLET_SANITIZER_FLAGS})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}")
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  ravolet_target_options(${name})
  # Sanitizer flags must reach every executable that links a sanitized library.
  target_link_options(${name} INTERFACE ${RAVOLET_SANITIZER_FLAGS})
endfunction()

# ravolet_tests(NAME [OWN_MAIN] [LABELS label...] [FILTER filter] DEPS dep...)
# One GoogleTest executable from every .cpp in the calling folder (recursively);
# each test case is registered with CTest. OWN_MAIN: the folder brings its own
# main() instead of GoogleTest's. FILTER: only the test cases GoogleTest's
# filter takes, for a folder that registers the others itself.
function(ravolet_tests name)
  cmake_parse_arguments(ARG "OWN_MAIN" "FILTER" "DEPS;LABELS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock Threads::Threads)
  if(NOT ARG_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_include_directories(${name} PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}")
  ravolet_target_options(${name})
  set(filter)
  if(ARG_FILTER)
    set(filter TEST_FILTER "${ARG_FILTER}")
  endif()
  gtest_discover_tests(${name} ${filter} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300 LABELS "${ARG_LABELS}")
endfunction()

# The GoogleTest executable of a kernel test, built for the host like every test.
function(_ravolet_kernel_test_executable name sources libraries)
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${libraries} RavoletKernelTestMain GTest::gtest GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}")
  ravolet_target_options(${name})
endfunction()

# ravolet_add_kernel_test(NAME SOURCES src... [LIBRARIES lib...] [EXTRA path...])
# A GoogleTest executable that runs inside a virtual machine on Debian's Linux
# kernel (scripts/kernel-test.sh), for tests of hidraw, evdev, uinput and uhid:
# built for the host like every test, never run on it (its main() refuses to
# run outside the VM). Every kernel test of a build runs in one boot, as the
# one CTest test "kernel" with the label "kernel" (ctest -L kernel); what each
# printed and how it ended shows in that test's output. LIBRARIES usually
# include RavoletFakeMouse (tests/kernel/FakeMouse/). EXTRA names files and
# folders to copy into the VM at their own paths, with the shared libraries
# of the programs among them (the script's --extra). Sanitizer builds, and
# builds configured with -DRAVOLET_KERNEL_TESTS=OFF, build them but do not
# register them.
option(RAVOLET_KERNEL_TESTS "Run the kernel tests (in a virtual machine) with the other tests" ON)
function(ravolet_add_kernel_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;EXTRA" ${ARGN})
  _ravolet_kernel_test_executable(${name} "${ARG_SOURCES}" "${ARG_LIBRARIES}")
  if(NOT RAVOLET_KERNEL_TESTS OR RAVOLET_SANITIZE)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY RAVOLET_KERNEL_TEST_TARGETS ${name})
  set_property(GLOBAL APPEND PROPERTY RAVOLET_KERNEL_TEST_EXTRAS ${ARG_EXTRA})
  # The one test is added once every folder has had its say.
  get_property(scheduled GLOBAL PROPERTY RAVOLET_KERNEL_TEST_SCHEDULED)
  if(NOT scheduled)
    set_property(GLOBAL PROPERTY RAVOLET_KERNEL_TEST_SCHEDULED TRUE)
    cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL _ravolet_add_kernel_boot)
  endif()
endfunction()

function(_ravolet_add_kernel_boot)
  get_property(targets GLOBAL PROPERTY RAVOLET_KERNEL_TEST_TARGETS)
  get_property(extras GLOBAL PROPERTY RAVOLET_KERNEL_TEST_EXTRAS)
  list(REMOVE_DUPLICATES extras)
  set(options)
  foreach(extra IN LISTS extras)
    list(APPEND options --extra "${extra}")
  endforeach()
  set(executables)
  foreach(target IN LISTS targets)
    list(APPEND executables "$<TARGET_FILE:${target}>")
  endforeach()
  add_test(NAME kernel COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/kernel-test.sh" ${options} "${CMAKE_BINARY_DIR}"
                               ${executables})
  set_tests_properties(kernel PROPERTIES LABELS kernel TIMEOUT 600)
endfunction()

# ravolet_add_desktop_vm_test(NAME SOURCES src... [LIBRARIES lib...] [EXTRA path...] [HELPERS target...]
#                             [MODULES path...] [DISPLAY])
# A kernel test that needs a desktop's own files (an X server, a compositor)
# in the VM: built like ravolet_add_kernel_test's, but run in a boot of its
# own, the CTest test "kernel.NAME" with the label "kernel", so that the
# common boot stays small. EXTRA is copied in when present (a desktop that is
# not installed leaves the test to say so and skip); HELPERS are programs of
# the build that go in beside it. MODULES and DISPLAY are the script's
# --module and --display, for a compositor that drives a screen of its own.
function(ravolet_add_desktop_vm_test name)
  cmake_parse_arguments(ARG "DISPLAY" "" "SOURCES;LIBRARIES;EXTRA;HELPERS;MODULES" ${ARGN})
  _ravolet_kernel_test_executable(${name} "${ARG_SOURCES}" "${ARG_LIBRARIES}")
  foreach(helper IN LISTS ARG_HELPERS)
    add_dependencies(${name} ${helper})
  endforeach()
  if(NOT RAVOLET_KERNEL_TESTS OR RAVOLET_SANITIZE)
    return()
  endif()
  set(options)
  foreach(extra IN LISTS ARG_EXTRA)
    if(EXISTS "${extra}")
      list(APPEND options --extra "${extra}")
    endif()
  endforeach()
  foreach(helper IN LISTS ARG_HELPERS)
    list(APPEND options --extra "$<TARGET_FILE:${helper}>")
  endforeach()
  foreach(module IN LISTS ARG_MODULES)
    list(APPEND options --module "${module}")
  endforeach()
  if(ARG_DISPLAY)
    list(APPEND options --display)
  endif()
  add_test(NAME kernel.${name} COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/kernel-test.sh" ${options} "${CMAKE_BINARY_DIR}"
                                       "$<TARGET_FILE:${name}>")
  set_tests_properties(kernel.${name} PROPERTIES LABELS kernel TIMEOUT 600)
endfunction()

# ravolet_fuzzer(NAME DEPS dep...)
# A libFuzzer executable from NAME.cpp in the calling folder.
function(ravolet_fuzzer name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${name} "${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp")
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  ravolet_target_options(${name})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()

# ravolet_bench(NAME DEPS dep...)
# One Google Benchmark executable from every .cpp in the calling folder.
function(ravolet_bench name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark benchmark::benchmark_main Threads::Threads)
  ravolet_target_options(${name})
endfunction()
