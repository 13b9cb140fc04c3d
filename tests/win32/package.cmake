# The release zip (tools/package): its contents, checksums, sections and
# tables, read without Wine; its version resource and monitor, under Wine;
# and two builds in different folders compared byte for byte.
#
# The release is the 32-bit build.  The win32 preset packages its own build;
# the win64 preset (for machines that cannot run 32-bit code) packages a
# win32 build of its own beside it and reads it with its 64-bit programs.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KVO_RELEASE_BUILD ${CMAKE_BINARY_DIR})
  set(KVO_RELEASE_OBJDUMP ${CMAKE_OBJDUMP})
  set(KVO_RUN_PACKAGED_MONITOR 1)
else()
  set(KVO_RELEASE_BUILD ${CMAKE_BINARY_DIR}/release-win32)
  find_program(KVO_RELEASE_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
  set(KVO_RUN_PACKAGED_MONITOR 0)  # its Wine prefix runs no 32-bit programs
endif()

add_executable(package_version_info win32/package_version_info.cpp)
target_link_libraries(package_version_info PRIVATE version)
kvo_warnings(package_version_info)

# No Wine: it runs on every machine.
add_test(NAME package.tables
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win32/package_tables.sh
    ${CMAKE_SOURCE_DIR} ${KVO_RELEASE_BUILD} ${KVO_RELEASE_OBJDUMP})
set_tests_properties(package.tables PROPERTIES
  CROSSCOMPILING_EMULATOR "" RESOURCE_LOCK kvo_release_build TIMEOUT 900)

add_test(NAME package.contents
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win32/package_check.sh
    ${CMAKE_SOURCE_DIR} ${KVO_RELEASE_BUILD} ${KVO_RELEASE_OBJDUMP} $<TARGET_FILE:package_version_info>
    ${CMAKE_SOURCE_DIR}/tools/wine-run ${KVO_WINEPREFIX})
# Its monitor run captures, and a machine has one capture at a time.
set_tests_properties(package.contents PROPERTIES
  CROSSCOMPILING_EMULATOR "" FIXTURES_REQUIRED wine RESOURCE_LOCK "kvo_capture;kvo_release_build"
  ENVIRONMENT KVO_RUN_PACKAGED_MONITOR=${KVO_RUN_PACKAGED_MONITOR} SKIP_RETURN_CODE 77 TIMEOUT 900)

# Builds the DLL and the monitor again from nothing: minutes.
add_test(NAME package.reproducible
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win32/package_reproducible.sh ${CMAKE_SOURCE_DIR} ${KVO_RELEASE_BUILD})
set_tests_properties(package.reproducible PROPERTIES
  CROSSCOMPILING_EMULATOR "" RESOURCE_LOCK kvo_release_build TIMEOUT 1800)
