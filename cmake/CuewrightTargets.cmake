# Helpers shared by every folder: one library per folder, one test binary per library.

function(cw_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(CW_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# cw_library(NAME SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
function(cw_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  cw_warnings(${name})
endfunction()

# cw_test(NAME SOURCES ... [DEPS ...] [ENV ...] [OWN_MAIN]): one GoogleTest binary registered
# with CTest. Without OWN_MAIN it links GoogleTest's main.
function(cw_test name)
  cmake_parse_arguments(ARG "OWN_MAIN" "TIMEOUT" "SOURCES;DEPS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/tests")
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock Threads::Threads cw_test_folders)
  if(NOT ARG_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  cw_warnings(${name})
  # Tests over Qt share the libraries' precompiled Qt headers: most of the tests' build is Qt's.
  # (SDL2 defines _REENTRANT, which the shared headers were not built with.)
  if((ARG_OWN_MAIN OR ARG_DEPS MATCHES "Qt6::|cw_model") AND NOT ARG_DEPS MATCHES "SDL2")
    cw_qt_pch(${name})
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "GTEST_BRIEF=1;QT_QPA_PLATFORM=offscreen;CW_TEST_OUTPUT_DIR=${PROJECT_BINARY_DIR}/test-output;${ARG_ENV}")
endfunction()

# cw_bench(NAME SOURCES ... [DEPS ...]): a Google Benchmark program under bench/.
function(cw_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark Threads::Threads)
  cw_warnings(${name})
endfunction()

# Precompiled Qt headers for a target that includes Qt widely (keeps 2-core builds fast). They
# are compiled once, in a target of their own, and every caller reuses them.
function(cw_qt_pch target)
  if(NOT TARGET cw_qt_pch)
    set(source "${PROJECT_BINARY_DIR}/cw_qt_pch.cpp")
    file(CONFIGURE OUTPUT "${source}" CONTENT "// The precompiled Qt headers are built with this file.\n")
    add_library(cw_qt_pch OBJECT "${source}")
    set_target_properties(cw_qt_pch PROPERTIES AUTOMOC OFF)
    target_link_libraries(cw_qt_pch PRIVATE Qt6::Core Qt6::Gui)
    target_precompile_headers(cw_qt_pch PRIVATE <QtCore/QtCore> <QtGui/QtGui>)
    cw_warnings(cw_qt_pch)
  endif()
  target_precompile_headers(${target} REUSE_FROM cw_qt_pch)
endfunction()
