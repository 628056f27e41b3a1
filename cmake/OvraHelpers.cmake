# Shared build helpers.

# Warnings for our own targets.
function(ovra_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
    -Wnon-virtual-dtor -Wcast-align -Wunused -Woverloaded-virtual -Wnull-dereference
    -Wimplicit-fallthrough)
  if(OVRA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Adds every direct sub-folder of the current folder that has a CMakeLists.txt,
# so that components can be added without editing a shared list.
function(ovra_add_component_dirs)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# ovra_test(NAME <name> LABELS <labels...> SOURCES <files...> LIBS <targets...>
#           [ENV <VAR=value...>] [TIMEOUT <s>] [WRAPPER <command...>])
# One GoogleTest executable registered as one ctest test with the given labels.
function(ovra_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "LABELS;SOURCES;LIBS;ENV;WRAPPER" ${ARGN})
  if(NOT OVRA_TESTS)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock Threads::Threads)
  ovra_warnings(${T_NAME})
  add_test(NAME ${T_NAME} COMMAND ${T_WRAPPER} $<TARGET_FILE:${T_NAME}>)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "OVRA_BIN_DIR=${OVRA_BIN_DIR};OVRA_SOURCE_DIR=${PROJECT_SOURCE_DIR};${T_ENV}")
endfunction()
