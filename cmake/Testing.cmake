find_package(GTest REQUIRED)
include(GoogleTest)

# jtrk_add_test(NAME SOURCES src... LIBS lib... [LABELS label...])
# One GoogleTest executable; each test case runs as its own CTest test with a watchdog.
function(jtrk_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} testsupport GTest::gtest GTest::gtest_main pthread)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS "${T_LABELS}")
endfunction()

# Every tests/test_*.cpp of the calling folder becomes its own test executable.
function(jtrk_add_test_folder prefix)
  cmake_parse_arguments(T "" "" "LIBS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/test_*.cpp)
  foreach(source ${sources})
    get_filename_component(stem ${source} NAME_WE)
    jtrk_add_test(${prefix}_${stem} SOURCES ${source} LIBS ${T_LIBS} LABELS ${T_LABELS})
  endforeach()
endfunction()
