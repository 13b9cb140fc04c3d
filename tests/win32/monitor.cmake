# kvo-monitor with real presses: the virtual receiver's devices through
# Wine's HID stack (the shared real_road fixture installs them), listed with
# --devices (and, in a prefix of its own, none), the monitor live with --all
# and --record naming the keys, checked against the user guide's table, and
# its recording replayed.
add_test(NAME monitor.devices
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win32/monitor_devices.sh
    $<TARGET_FILE:kvo-remote> $<TARGET_FILE:kvo-monitor> ${CMAKE_SOURCE_DIR}/docs/user-guide.md
    ${CMAKE_SOURCE_DIR}/tools/wine-run ${KVO_WINEPREFIX})
set_tests_properties(monitor.devices PROPERTIES
  CROSSCOMPILING_EMULATOR "" FIXTURES_REQUIRED "wine;real_road" RESOURCE_LOCK kvo_capture
  SKIP_RETURN_CODE 77 TIMEOUT 600)
# Two monitors live at once, each a real process: the second says another
# program has the receiver, or with --wait captures once the first lets go.
add_test(NAME monitor.busy
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win32/monitor_busy.sh
    $<TARGET_FILE:kvo-remote> $<TARGET_FILE:kvo-monitor> ${CMAKE_SOURCE_DIR}/tools/wine-run ${KVO_WINEPREFIX})
set_tests_properties(monitor.busy PROPERTIES
  CROSSCOMPILING_EMULATOR "" FIXTURES_REQUIRED "wine;real_road" RESOURCE_LOCK kvo_capture
  SKIP_RETURN_CODE 77 TIMEOUT 600)
# Replays every sample several ways and runs live once: under a minute
# normally, longer where Wine runs emulated.
set_tests_properties(monitor PROPERTIES RESOURCE_LOCK kvo_capture TIMEOUT 900)
# A recording into a file system too small for it (a 16 KiB tmpfs, which
# needs root to mount; skipped where it cannot be) says so and ends non-zero.
add_test(NAME monitor.full_disk
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win32/check_monitor.sh
    ${CMAKE_SOURCE_DIR}/tools/wine-run ${KVO_WINEPREFIX} -- $<TARGET_FILE:kvo-monitor> ${CMAKE_SOURCE_DIR}/samples ${KVO_USB_IDS}
    full-disk)
set_tests_properties(monitor.full_disk PROPERTIES
  CROSSCOMPILING_EMULATOR "" FIXTURES_REQUIRED wine SKIP_RETURN_CODE 77 TIMEOUT 600)
