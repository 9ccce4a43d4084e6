# Adds every immediate subfolder of the current source folder that has a
# CMakeLists.txt, less those named after EXCLUDE. tests/ and tools/ use it so each subsystem keeps its own
# test and tool folder.
function(qb_add_child_folders)
  cmake_parse_arguments(ARG "" "" "EXCLUDE" ${ARGN})
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  if(ARG_EXCLUDE)
    list(REMOVE_ITEM children ${ARG_EXCLUDE})
  endif()
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# qb_add_preload_library(TARGET SOURCE RESULT): a shared library that tests
# preload into the real scanner (LD_PRELOAD), built without the sanitizer
# flags; RESULT gets the LD_PRELOAD text for it. In a GCC sanitizer build the
# sanitizer's runtime comes first, as it must in the process (clang links it
# into the program, where it comes first anyway).
function(qb_add_preload_library target source result)
  add_library(${target} SHARED ${source})
  get_target_property(options ${target} COMPILE_OPTIONS)
  list(FILTER options EXCLUDE REGEX "sanitize|omit-frame-pointer")
  set_target_properties(${target} PROPERTIES COMPILE_OPTIONS "${options}" LINK_OPTIONS "")
  target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
  set(preload "$<TARGET_FILE:${target}>")
  if(QB_SANITIZE AND CMAKE_C_COMPILER_ID STREQUAL "GNU")
    execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=libasan.so
                    OUTPUT_VARIABLE runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(preload "${runtime}:${preload}")
  endif()
  set(${result} "${preload}" PARENT_SCOPE)
endfunction()

# qb_add_gtest(NAME SOURCES... LIBS ... [LABELS ...]): one GoogleTest
# executable registered with CTest, test by test, with the CTest labels given.
function(qb_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main
                                        GTest::gmock)
  include(GoogleTest)
  if(NOT CMAKE_CROSSCOMPILING)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600
                         LABELS "${ARG_LABELS}")
  elseif(CMAKE_CROSSCOMPILING_EMULATOR)
    # Listed when ctest runs, through the emulator (Wine), so that building
    # needs no emulator.
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         PROPERTIES TIMEOUT 600)
  endif()
  # A cross build without an emulator only compiles and links its tests.
endfunction()

# qb_use_googletest(): the GTest:: targets. A native build takes the
# installed package; a cross build for Windows compiles GoogleTest from the
# sources Debian ships (QB_GTEST_SOURCE_DIR) with the cross compiler, without
# the project's warning options.
macro(qb_use_googletest)
  if(CMAKE_CROSSCOMPILING AND WIN32)
    set(QB_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    get_directory_property(qb_saved_compile_options COMPILE_OPTIONS)
    set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
    add_subdirectory(${QB_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    # The Win32 thread model of the cross compilers has no std::mutex, on
    # which GoogleTest's Notification rests: GoogleTest and every test find
    # the replacement in gtest-win32/ first (-iquote: before every -I and
    # -isystem folder, for GoogleTest's #include "gtest/internal/custom/...").
    target_compile_options(gtest PUBLIC "SHELL:-iquote ${PROJECT_SOURCE_DIR}/cmake/gtest-win32")
    set_directory_properties(PROPERTIES COMPILE_OPTIONS "${qb_saved_compile_options}")
  else()
    find_package(GTest REQUIRED)
  endif()
endmacro()

# qb_add_fuzzer(NAME SOURCES... LIBS ...): a libFuzzer target, built only
# with QB_FUZZ.
function(qb_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(QB_FUZZ)
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  endif()
endfunction()

# qb_four_part_version(OUT [SEPARATOR sep]): the project's version in four
# parts, missing ones 0, joined by "." (or sep).
function(qb_four_part_version out)
  cmake_parse_arguments(ARG "" "SEPARATOR" "" ${ARGN})
  if(NOT ARG_SEPARATOR)
    set(ARG_SEPARATOR ".")
  endif()
  set(parts)
  foreach(part MAJOR MINOR PATCH TWEAK)
    if("${PROJECT_VERSION_${part}}" STREQUAL "")
      list(APPEND parts 0)
    else()
      list(APPEND parts ${PROJECT_VERSION_${part}})
    endif()
  endforeach()
  list(JOIN parts "${ARG_SEPARATOR}" joined)
  set(${out} ${joined} PARENT_SCOPE)
endfunction()

# qb_add_version_resource(TARGET DESCRIPTION text): a VERSIONINFO resource
# for a Windows program or library (company, product, the description, the
# file's own name, and the project's version as file and product version,
# always in four parts: 1.0 becomes 1.0.0.0).
set(QB_COMPANY_NAME "Ferrowin")
set(QB_PRODUCT_NAME "Quellbox")
function(qb_add_version_resource target)
  cmake_parse_arguments(ARG "" "DESCRIPTION" "" ${ARGN})
  qb_four_part_version(QB_VI_VERSION)
  qb_four_part_version(QB_VI_NUMBERS SEPARATOR ",")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(QB_VI_TYPE VFT_APP)
    set(suffix ${CMAKE_EXECUTABLE_SUFFIX})
  else()
    set(QB_VI_TYPE VFT_DLL)
    set(suffix ${CMAKE_SHARED_LIBRARY_SUFFIX})
  endif()
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  get_target_property(prefix ${target} PREFIX)
  if(NOT prefix)
    set(prefix "")
  endif()
  set(QB_VI_NAME ${output_name})
  set(QB_VI_FILE ${prefix}${output_name}${suffix})
  set(QB_VI_DESCRIPTION "${ARG_DESCRIPTION}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionInfo.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
