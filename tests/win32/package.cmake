# The release zip (tools/package): its contents, checksums and version
# resource, read back under Wine; and two builds in different folders
# compared byte for byte.  The release is the 32-bit build.
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  return()
endif()

add_executable(package_version_info win32/package_version_info.cpp)
target_link_libraries(package_version_info PRIVATE version)
kvo_warnings(package_version_info)

add_test(NAME package.contents
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win32/package_check.sh
    ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${CMAKE_OBJDUMP} $<TARGET_FILE:package_version_info>
    ${CMAKE_SOURCE_DIR}/tools/wine-run ${KVO_WINEPREFIX})
# Its monitor run captures, and a machine has one capture at a time.
set_tests_properties(package.contents PROPERTIES
  CROSSCOMPILING_EMULATOR "" FIXTURES_REQUIRED wine RESOURCE_LOCK kvo_capture
  SKIP_RETURN_CODE 77 TIMEOUT 900)

# Builds the DLL and the monitor again from nothing: minutes.
add_test(NAME package.reproducible
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win32/package_reproducible.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(package.reproducible PROPERTIES CROSSCOMPILING_EMULATOR "" TIMEOUT 1800)
