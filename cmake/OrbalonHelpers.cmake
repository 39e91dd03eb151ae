# Helpers shared by every folder of the tree.

# Our own code: every warning is reported; with ORB_WERROR (CI and developers' test runs)
# every warning is an error. A user's build of any configuration compiles without it.
function(orb_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(ORB_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 at -O3 reports overlapping copies inside std::string that cannot happen
    # (GCC bug 105329); the check is kept on newer compilers.
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(ORB_SANITIZE)
    # GCC's flow analysis sees through the sanitizers' instrumentation badly and reports
    # uninitialised reads inside the standard library (std::regex, std::function); the
    # plain build keeps the check as an error.
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
endfunction()

# The program's folders: a switch over an enum names every value, even with a default, so
# a value added later is met by the compiler at every switch.
function(orb_complete_switches)
  foreach(t ${ARGN})
    if(TARGET ${t})
      get_target_property(type ${t} TYPE)
      if(NOT type STREQUAL "INTERFACE_LIBRARY")
        target_compile_options(${t} PRIVATE -Wswitch-enum)
      endif()
    endif()
  endforeach()
endfunction()

# Sources of a folder that never include wx: everything below DIR except any gui/ folder.
function(orb_core_sources out dir)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  list(FILTER srcs EXCLUDE REGEX "/gui/")
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

# Sources of a folder's gui/ sub-folder (the wx adapters).
function(orb_gui_sources out dir)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${dir}/gui/*.cpp)
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

# A GoogleTest executable of plain (display-free) tests.
#   orb_add_test(NAME name SOURCES ... LIBS ...)
function(orb_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT T_SOURCES)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  orb_warnings(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${T_NAME} PRIVATE ORB_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "ORB_TEST_TMP=${CMAKE_BINARY_DIR}/testtmp")
endfunction()

# A GoogleTest executable that needs a display: each test (and the discovery) gets its own Xvfb.
function(orb_add_gui_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT T_SOURCES OR NOT ORB_BUILD_GUI)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  orb_warnings(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} wx_all GTest::gtest GTest::gmock)
  target_compile_definitions(${T_NAME} PRIVATE ORB_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
  set_target_properties(${T_NAME} PROPERTIES
      CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/scripts/xvfb-test;-a;-s;-screen 0 1600x1200x24")
  # GTK and fontconfig keep caches for the life of the process; leak checking of GUI
  # programs reports only those, so it stays on for the display-free tests alone.
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 120
                       PROPERTIES LABELS gui ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0")
endfunction()

# A Google Benchmark program.
function(orb_add_bench name)
  if(NOT ORB_BUILD_BENCH)
    return()
  endif()
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  orb_warnings(${name})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# The display-free library of a folder: every source below it except gui/.
# A folder with no sources yet becomes an interface library, so dependants still link.
#   orb_add_core_library(NAME name DIR dir [SHARED] [OUTPUT_NAME n] LIBS ...)
function(orb_add_core_library)
  cmake_parse_arguments(L "SHARED" "NAME;DIR;OUTPUT_NAME" "LIBS;EXCLUDE" ${ARGN})
  orb_core_sources(srcs ${L_DIR})
  foreach(ex ${L_EXCLUDE})
    list(FILTER srcs EXCLUDE REGEX "${ex}")
  endforeach()
  if(srcs)
    if(L_SHARED)
      add_library(${L_NAME} SHARED ${srcs})
    else()
      add_library(${L_NAME} STATIC ${srcs})
    endif()
    orb_warnings(${L_NAME})
    target_include_directories(${L_NAME} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${L_NAME} PUBLIC ${L_LIBS} Threads::Threads)
    if(L_OUTPUT_NAME)
      set_target_properties(${L_NAME} PROPERTIES OUTPUT_NAME ${L_OUTPUT_NAME})
    endif()
  else()
    add_library(${L_NAME} INTERFACE)
    target_include_directories(${L_NAME} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${L_NAME} INTERFACE ${L_LIBS} Threads::Threads)
  endif()
endfunction()

# The wx adapters of a folder (its gui/ sub-folder, without a program's main.cpp) as a
# library of its own: its LIBS name the core libraries and the gui libraries below it, so
# the link itself keeps gui folders in one direction (scripts/check-layers.py checks it).
#   orb_add_gui_library(NAME name DIR dir LIBS ...)
function(orb_add_gui_library)
  cmake_parse_arguments(L "" "NAME;DIR" "LIBS" ${ARGN})
  if(NOT ORB_BUILD_GUI)
    return()
  endif()
  orb_gui_sources(srcs ${L_DIR})
  list(FILTER srcs EXCLUDE REGEX "/main\\.cpp$")
  if(srcs)
    add_library(${L_NAME} STATIC ${srcs})
    orb_warnings(${L_NAME})
    target_link_libraries(${L_NAME} PUBLIC ${L_LIBS} wx_all)
  else()
    add_library(${L_NAME} INTERFACE)
    target_link_libraries(${L_NAME} INTERFACE ${L_LIBS} wx_all)
  endif()
endfunction()

# Plain tests of a folder (every .cpp below it except gui/) and its GUI tests (gui/).
function(orb_add_folder_tests)
  cmake_parse_arguments(T "" "NAME;DIR" "LIBS;GUI_LIBS;GUI_MAIN" ${ARGN})
  orb_core_sources(srcs ${T_DIR})
  orb_add_test(NAME ${T_NAME}_tests SOURCES ${srcs} LIBS ${T_LIBS})
  orb_gui_sources(gsrcs ${T_DIR})
  if(gsrcs)
    list(APPEND gsrcs ${T_GUI_MAIN})
  endif()
  orb_add_gui_test(NAME ${T_NAME}_gui_tests SOURCES ${gsrcs} LIBS ${T_LIBS} ${T_GUI_LIBS})
endfunction()
