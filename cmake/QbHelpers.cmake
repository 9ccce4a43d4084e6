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
