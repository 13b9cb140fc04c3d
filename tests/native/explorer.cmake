# The model-based explorer against the stand-in (tests/native/explorer) and
# the schedules it once found failing, replayed by name.
find_package(rapidcheck REQUIRED)

add_library(kvo_explorer STATIC
  support/HostSchedule.cpp
  native/explorer/ScheduleRunner.cpp)
target_include_directories(kvo_explorer PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/native/explorer)
target_link_libraries(kvo_explorer PUBLIC kvo_test_support)
kvo_warnings(kvo_explorer)

add_executable(kvo_explorer_tests native/explorer/explorer_test.cpp)
target_link_libraries(kvo_explorer_tests PRIVATE kvo_explorer rapidcheck GTest::gtest)
kvo_warnings(kvo_explorer_tests)
add_test(NAME explorer COMMAND kvo_explorer_tests)
set_tests_properties(explorer PROPERTIES TIMEOUT 180)

add_executable(kvo_explorer_regressions native/explorer/regression_test.cpp)
target_link_libraries(kvo_explorer_regressions PRIVATE kvo_explorer GTest::gtest_main)
kvo_warnings(kvo_explorer_regressions)
add_test(NAME explorer-regressions COMMAND kvo_explorer_regressions)
set_tests_properties(explorer-regressions PROPERTIES TIMEOUT 60)
