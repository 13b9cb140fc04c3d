# The real road: KVORemote.dll under Wine's own HID stack, fed by the virtual
# receiver (tools/virtual-receiver).  The devices are installed once per run.
add_executable(kvo_real_road_tests win32/real_road_test.cpp support/RecordingHost.cpp)
target_include_directories(kvo_real_road_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kvo_real_road_tests PRIVATE kvo_host_test_support kvo_virtual_devices GTest::gtest)
add_dependencies(kvo_real_road_tests KVORemote kvo-remote)
kvo_warnings(kvo_real_road_tests)

add_test(NAME real_road.devices
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win32/real_road_devices.sh
    ${CMAKE_SOURCE_DIR}/tools/wine-run ${KVO_WINEPREFIX} $<TARGET_FILE:kvo-remote>
    remote media remote-long keyboard other media-bitmap ehome media-zero value-array swap-media)
set_tests_properties(real_road.devices PROPERTIES CROSSCOMPILING_EMULATOR ""
  FIXTURES_SETUP real_road FIXTURES_REQUIRED wine TIMEOUT 300)

# One CTest test per case, so that a hang fails with the case's name.  They
# share the devices and the one capture a machine allows.
foreach(case
    PressesBecomeTheirNamesAndReleasesGiveNothing
    ShortReportsArrivePaddedToTheDevicesLongest
    BitmapKeysAreNamedByTheirBytesAndReleasesGiveNothing
    EveryDescriptorLayoutIsNamedByItsBytes
    KeyboardAndUnregisteredCollectionsGiveNothing
    BurstOfPressesAndReleasesArrivesWholeAndInOrder
    DevicesComeAndGoWhileCapturing
    StopSilencesAndStartAgainDelivers
    CaptureNeedsNoVisibleOrForegroundWindow
    ASecondProcessDoesNotCaptureWhileTheFirstDoes)
  add_test(NAME real_road.${case} COMMAND kvo_real_road_tests --gtest_filter=RealRoad.${case})
  set_tests_properties(real_road.${case} PROPERTIES
    FIXTURES_REQUIRED "wine;real_road" RESOURCE_LOCK kvo_capture TIMEOUT 600)
endforeach()
