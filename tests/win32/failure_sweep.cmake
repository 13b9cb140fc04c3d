# Every import of the real DLL with a documented failure fails in turn,
# under Wine; the native sweep is in tests/CMakeLists.txt.
add_executable(kvo_failure_sweep win32/failure_sweep.cpp support/LeftBehind.cpp
  support/RecordingHost.cpp)
target_include_directories(kvo_failure_sweep PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kvo_failure_sweep PRIVATE kvo_host_test_support oleaut32)
add_dependencies(kvo_failure_sweep KVORemote)
kvo_warnings(kvo_failure_sweep)
add_test(NAME failure-sweep COMMAND kvo_failure_sweep)
set_tests_properties(failure-sweep PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK kvo_capture
  TIMEOUT 900)

# What the sweep knows of the DLL's imports is one list, which the no-Wine
# import check reads as it is and the sweep gets built in as a string.
set(kvo_sweep_imports ${CMAKE_CURRENT_SOURCE_DIR}/win32/failure_sweep_imports.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${kvo_sweep_imports})
file(READ ${kvo_sweep_imports} KVO_SWEEP_IMPORTS)
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/generated/failure_sweep_imports.inc
  CONTENT "R\"kvo_imports(@KVO_SWEEP_IMPORTS@)kvo_imports\"\n" @ONLY)
target_include_directories(kvo_failure_sweep PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)

# The product's DLL only: its import table against that list, read with
# objdump, so that it holds on every machine, 32-bit Wine or not.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_test(NAME imports
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win32/check_imports.sh
      ${CMAKE_OBJDUMP} $<TARGET_FILE:KVORemote> ${kvo_sweep_imports})
  set_tests_properties(imports PROPERTIES CROSSCOMPILING_EMULATOR "" TIMEOUT 60)
endif()
