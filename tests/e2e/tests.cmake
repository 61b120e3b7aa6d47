# End-to-end tests: every tests/e2e/*_e2e_test.cc is one GoogleTest program
# that runs the built vornd as a real process (its path is compiled into the
# shared harness).
if(TARGET vornd)
  add_library(vorn_e2e_harness STATIC ${CMAKE_CURRENT_LIST_DIR}/harness.cc)
  target_compile_definitions(vorn_e2e_harness PRIVATE VORND_PATH="$<TARGET_FILE:vornd>")
  target_include_directories(vorn_e2e_harness PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(vorn_e2e_harness PUBLIC GTest::gtest)

  file(GLOB e2e_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_e2e_test.cc)
  foreach(t ${e2e_tests})
    get_filename_component(name ${t} NAME_WE)
    add_executable(${name} ${t})
    target_link_libraries(${name} PRIVATE vorn_e2e_harness vorn GTest::gtest GTest::gtest_main ZLIB::ZLIB)
    add_dependencies(${name} vornd)
    # The burst of a thousand jobs runs for a minute or so under the sanitizers.
    set(timeout 120)
    if(name STREQUAL "burst_e2e_test")
      set(timeout 300)
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${timeout} LABELS e2e)
  endforeach()
endif()
