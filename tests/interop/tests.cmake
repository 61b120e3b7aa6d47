# Interop tests: our IPP codec against IPP implementations written elsewhere
# (the npm packages in tests/interop/node_modules, run with node from PATH).
add_executable(ipp_interop_tool ${CMAKE_CURRENT_LIST_DIR}/ipp_interop_tool.cc)
target_link_libraries(ipp_interop_tool PRIVATE vorn_ipp)
add_test(NAME ipp_interop
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run-ipp-interop
          $<TARGET_FILE:ipp_interop_tool> ${CMAKE_CURRENT_BINARY_DIR}/ipp_interop.work)
set_tests_properties(ipp_interop PROPERTIES TIMEOUT 120)
