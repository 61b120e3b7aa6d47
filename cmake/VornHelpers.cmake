# vorn_component(name DIR dir DEPS deps...): a static library built from every
# .cc file of one folder, so each part of libvorn builds and links on its own.
function(vorn_component name)
  cmake_parse_arguments(C "" "DIR" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${C_DIR}/*.cc)
  if(NOT srcs)  # a component not written yet links as nothing
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE
      ${PROJECT_SOURCE_DIR}/lib/include ${PROJECT_BINARY_DIR}/include)
    if(C_DEPS)
      target_link_libraries(${name} INTERFACE ${C_DEPS})
    endif()
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC
    ${PROJECT_SOURCE_DIR}/lib/include ${PROJECT_BINARY_DIR}/include)
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  if(C_DEPS)
    target_link_libraries(${name} PUBLIC ${C_DEPS})
  endif()
endfunction()

# vorn_program(name DEST dir SOURCES ... LIBS ...): one installed executable.
function(vorn_program name)
  cmake_parse_arguments(P "" "DEST" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  target_link_libraries(${name} PRIVATE ${P_LIBS})
  install(TARGETS ${name} RUNTIME DESTINATION ${P_DEST})
endfunction()

# vorn_unit_test(file LIBS ...): one GoogleTest executable per *_test.cc file.
function(vorn_unit_test file)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  get_filename_component(name ${file} NAME_WE)
  add_executable(${name} ${file})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    VORN_SOURCE_DIR="${PROJECT_SOURCE_DIR}" VORN_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "VORN_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()
