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

# vorn_layout(prefix): where an installation under `prefix` keeps its files,
# in VORN_SERVERROOT, VORN_SERVERBIN, VORN_DATADIR, VORN_DOCROOT,
# VORN_FONTPATH, VORN_REQUESTS, VORN_LOGDIR and VORN_PRINTCAP. Configuration
# and state go to /etc and /var for the prefixes /usr and /, else under the
# prefix. The build compiles these in as defaults for its prefix; the install
# script computes them again for the prefix given to `cmake --install`.
function(vorn_layout prefix)
  string(REGEX REPLACE "/+$" "" root "${prefix}")
  if(root STREQUAL "" OR root STREQUAL "/usr")
    set(etc "/etc")
    set(var "/var")
  else()
    set(etc "${root}/etc")
    set(var "${root}/var")
  endif()
  set(VORN_SERVERROOT "${etc}/vorn" PARENT_SCOPE)
  set(VORN_SERVERBIN  "${root}/lib/vorn" PARENT_SCOPE)
  set(VORN_DATADIR    "${root}/share/vorn" PARENT_SCOPE)
  set(VORN_DOCROOT    "${root}/share/vorn/doc" PARENT_SCOPE)
  set(VORN_FONTPATH   "${root}/share/vorn/fonts" PARENT_SCOPE)
  set(VORN_REQUESTS   "${var}/spool/vorn" PARENT_SCOPE)
  set(VORN_LOGDIR     "${var}/log/vorn" PARENT_SCOPE)
  set(VORN_PRINTCAP   "${etc}/printcap" PARENT_SCOPE)
endfunction()

# vorn_program(name DEST dir SOURCES ... LIBS ...): one installed executable.
# A DEST under the install prefix is installed relative to it, so that
# `cmake --install --prefix` moves it along.
function(vorn_program name)
  cmake_parse_arguments(P "" "DEST" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  target_link_libraries(${name} PRIVATE ${P_LIBS})
  # The programs are started once a request or a document: without the C++
  # runtime as a shared library the loader has far fewer symbols to bind.
  if(NOT VORN_SANITIZE)
    target_link_options(${name} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
  set(dest "${P_DEST}")
  if(IS_ABSOLUTE "${dest}")
    cmake_path(IS_PREFIX CMAKE_INSTALL_PREFIX "${dest}" NORMALIZE under_prefix)
    if(under_prefix)
      file(RELATIVE_PATH dest "${CMAKE_INSTALL_PREFIX}" "${dest}")
    endif()
  endif()
  install(TARGETS ${name} RUNTIME DESTINATION ${dest})
endfunction()

# vorn_test_folder(name DIR dir [LIBS ...] [DEFS ...] [DEPENDS ...]
#                  [SOURCES ...] [TIMEOUT s] [LABEL l]):
# every *_test.cc of one folder linked into one GoogleTest program. ctest
# still lists and runs each test on its own; only the linking is shared.
function(vorn_test_folder name)
  cmake_parse_arguments(T "" "DIR;TIMEOUT;LABEL" "LIBS;DEFS;DEPENDS;SOURCES" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${T_DIR}/*_test.cc)
  if(NOT srcs)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  add_executable(${name} ${srcs} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    VORN_SOURCE_DIR="${PROJECT_SOURCE_DIR}" VORN_BINARY_DIR="${PROJECT_BINARY_DIR}" ${T_DEFS})
  if(T_DEPENDS)
    add_dependencies(${name} ${T_DEPENDS})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS ${T_LABEL}
               ENVIRONMENT "VORN_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()
