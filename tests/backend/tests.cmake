# Backend tests: every tests/backend/*_test.cc is one GoogleTest program. The
# backends run as real child processes; their paths are compiled in.
if(TARGET vorn_backend)
  set(backend_programs parallel serial usb scsi socket)

  add_library(vorn_backend_runner STATIC ${CMAKE_CURRENT_LIST_DIR}/backend_runner.cc)
  target_include_directories(vorn_backend_runner PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(vorn_backend_runner PUBLIC vorn)
  foreach(b ${backend_programs})
    string(TOUPPER ${b} B)
    target_compile_definitions(vorn_backend_runner PUBLIC BACKEND_${B}="$<TARGET_FILE:backend_${b}>")
  endforeach()

  file(GLOB backend_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cc)
  foreach(t ${backend_tests})
    get_filename_component(name ${t} NAME_WE)
    add_executable(${name} ${t})
    target_link_libraries(${name} PRIVATE vorn_backend_runner vorn_backend vorn
      GTest::gtest GTest::gtest_main Threads::Threads)
    foreach(b ${backend_programs})
      add_dependencies(${name} backend_${b})
    endforeach()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS backend)
  endforeach()
endif()
