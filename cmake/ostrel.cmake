# One test program per library (`<lib>_tests`) from every *_test.cpp under `dir`; the suites
# named in `alone` need a process of their own (they run the program, raise signals or load
# the machine) and build into `<lib>_<name>` each. ctest lists every test either way.
# With OSTREL_STRESS_ONLY, only the files declaring a stress test (a suite or test name holding
# "Stress") are built; an edit of a test file configures again.
function(ostrel_add_tests dir lib)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "ALONE")
  file(GLOB_RECURSE test_sources CONFIGURE_DEPENDS "${dir}/*_test.cpp")
  file(GLOB_RECURSE support_sources CONFIGURE_DEPENDS "${dir}/support/*.cpp")
  list(FILTER test_sources EXCLUDE REGEX "/support/")
  if(OSTREL_STRESS_ONLY)
    set(stress_sources)
    foreach(src IN LISTS test_sources)
      file(STRINGS "${src}" stress REGEX "^TEST(_F)?\\([^)]*Stress")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${src}")
      if(stress)
        list(APPEND stress_sources "${src}")
      endif()
    endforeach()
    set(test_sources ${stress_sources})
  endif()
  set(support)
  if(support_sources)
    add_library(${lib}_test_support STATIC ${support_sources})
    target_link_libraries(${lib}_test_support PUBLIC ${lib} GTest::gtest GTest::gmock)
    target_include_directories(${lib}_test_support PUBLIC ${dir})
    target_compile_definitions(${lib}_test_support PUBLIC
      OSTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}" OSTREL_BINARY_DIR="${PROJECT_BINARY_DIR}")
    ostrel_test_optimisation(${lib}_test_support)
    set(support ${lib}_test_support)
  endif()
  set(shared_sources ${test_sources})
  foreach(src IN LISTS test_sources)
    get_filename_component(name "${src}" NAME_WE)
    if(name IN_LIST arg_ALONE)
      list(REMOVE_ITEM shared_sources "${src}")
      ostrel_test_program(${lib}_${name} ${lib} "${support}" "${dir}" "${src}")
    endif()
  endforeach()
  if(shared_sources)
    ostrel_test_program(${lib}_tests ${lib} "${support}" "${dir}" "${shared_sources}")
  endif()
endfunction()

function(ostrel_test_program target lib support dir sources)
  add_executable(${target} ${sources})
  target_link_libraries(${target} PRIVATE ${lib} ${support} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${target} PRIVATE ${dir})
  target_compile_definitions(${target} PRIVATE
    OSTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}" OSTREL_BINARY_DIR="${PROJECT_BINARY_DIR}")
  ostrel_test_optimisation(${target})
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 600)
endfunction()

# Test code is compiled at -O1 in the optimised builds: a quarter less compile time, and the
# libraries under test keep the build's own level.
function(ostrel_test_optimisation target)
  target_compile_options(${target} PRIVATE $<$<CONFIG:RelWithDebInfo,Release>:-O1>)
endfunction()
