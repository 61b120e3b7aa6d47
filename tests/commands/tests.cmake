# Tests of the submit commands: every tests/commands/*_test.cc runs the built
# submit and enqueue programs as real processes, against a real vornd or a
# small IPP server of the test's own. The shared e2e harness (tests/e2e) exists
# whenever vornd does; it is linked by name, which is resolved late, so the
# order in which the tests.cmake files are read does not matter.
if(TARGET vornd AND TARGET submit AND TARGET enqueue)
  file(GLOB commands_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cc)
  foreach(t ${commands_tests})
    get_filename_component(name ${t} NAME_WE)
    add_executable(${name} ${t})
    target_link_libraries(${name} PRIVATE vorn_e2e_harness vorn GTest::gtest GTest::gtest_main
                          OpenSSL::SSL OpenSSL::Crypto Threads::Threads)
    target_compile_definitions(${name} PRIVATE
      SUBMIT_PATH="$<TARGET_FILE:submit>" ENQUEUE_PATH="$<TARGET_FILE:enqueue>"
      VORND_PATH="$<TARGET_FILE:vornd>")
    add_dependencies(${name} submit enqueue vornd)
    # The journey to a printer on a socket needs the socket backend.
    if(TARGET backend_socket)
      target_compile_definitions(${name} PRIVATE SOCKET_BACKEND_PATH="$<TARGET_FILE:backend_socket>")
      add_dependencies(${name} backend_socket)
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS commands)
  endforeach()
endif()
