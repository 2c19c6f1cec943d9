# volok_library(<name> <folder> [DEPS ...]): a static library from every .cpp
# in <folder> (not recursive). New files need no edit here.
function(volok_library name folder)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.cpp)
  list(APPEND sources ${ARG_SOURCES})
  if(sources)
    add_library(${name} STATIC ${sources})
    set(scope PUBLIC)
  else()
    # A layer whose code has not arrived yet still names its dependencies.
    add_library(${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${name} ${scope} ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} ${scope} ${ARG_DEPS})
endfunction()

# volok_test(<name> <folder> [DEPS ...]): one GoogleTest binary from every
# *.cpp in tests/<folder>, run by CTest in its own process. Cross builds run
# it through CMAKE_CROSSCOMPILING_EMULATOR (Wine for win64).
function(volok_test name folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} volok_test_support GTest::gtest GTest::gtest_main)
  if(VOLOK_CAN_RUN_TESTS)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES TIMEOUT 900)
  endif()
endfunction()
