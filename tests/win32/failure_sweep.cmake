# Every import of the real DLL with a documented failure fails in turn,
# under Wine; the native sweep is in tests/CMakeLists.txt.
add_executable(kvo_failure_sweep win32/failure_sweep.cpp support/RecordingHost.cpp)
target_include_directories(kvo_failure_sweep PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kvo_failure_sweep PRIVATE kvo_host_kit oleaut32)
add_dependencies(kvo_failure_sweep KVORemote)
kvo_warnings(kvo_failure_sweep)
add_test(NAME failure-sweep COMMAND kvo_failure_sweep)
set_tests_properties(failure-sweep PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK kvo_capture
  TIMEOUT 900)
