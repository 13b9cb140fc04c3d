# The explorer under Wine: random host schedules against the real DLL,
# checked against what a host may rely on, shrunk when one fails.
add_executable(kvo_explorer
  win32/explorer/main.cpp
  win32/explorer/Explorer.cpp
  win32/explorer/ScheduleGenerator.cpp
  support/HostSchedule.cpp
  support/LeftBehind.cpp)
target_include_directories(kvo_explorer PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/win32/explorer)
target_link_libraries(kvo_explorer PRIVATE kvo_host_test_support kvo_virtual_devices oleaut32)
add_dependencies(kvo_explorer KVORemote)
kvo_warnings(kvo_explorer)

# A bounded run: a few of the schedules take the real HID road through the
# virtual receiver, whose devices the real_road fixture installs.  The stall
# bound is one only a real stall crosses on a loaded machine.
add_test(NAME explorer
  COMMAND kvo_explorer --seed 17 --schedules 100 --hid-share 3 --hid-devices --slack-ms 5000)
set_tests_properties(explorer PROPERTIES
  FIXTURES_REQUIRED "wine;real_road" RESOURCE_LOCK kvo_capture TIMEOUT 600)

# Schedules the explorer once shrank from a failure, replayed as they are.
include(${CMAKE_CURRENT_LIST_DIR}/explorer/regressions.cmake)
