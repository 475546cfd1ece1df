# Tests of the Windows build on a Linux machine: GoogleTest built for
# mingw-w64 from the sources Debian ships, test programs run under Wine,
# and checks made from the Linux side (the binaries' import and export
# tables, files exchanged with the native build).

set(googletest_source /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${googletest_source} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(t gtest gtest_main)
  # Not our code: keep its warnings from failing the build.
  target_compile_options(${t} PRIVATE -Wno-error)
endforeach()
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()

# Paths compiled into the tests are Linux paths; Wine shows the Linux root
# as drive Z:.
set(host_drive "Z:")

# Listing the tests means running the program under Wine: do it when the
# tests run, not after every build.
set(discovery_mode DISCOVERY_MODE PRE_TEST)

# One Wine server for the whole run: started before the first test,
# stopped after the last.
set(wine_fixture FIXTURES_REQUIRED wine)

# Checks run on the Linux side, after the test program is built.
function(windows_tests)
  # The Windows progress window's own tests are part of the test program.
  target_compile_definitions(kestrav3_tests PRIVATE
    KESTRAV3_PROGRESS_WINDOW="${host_drive}$<TARGET_FILE:progress_window>")
  add_dependencies(kestrav3_tests progress_window)
  add_test(NAME wine.start COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/wine-server.sh start ${CMAKE_BINARY_DIR}/wine)
  add_test(NAME wine.stop COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/wine-server.sh stop ${CMAKE_BINARY_DIR}/wine)
  set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
  add_test(NAME windows.binaries
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/windows_binaries_test.sh ${CMAKE_BINARY_DIR}/bin)
  set(native_build ${PROJECT_SOURCE_DIR}/build CACHE PATH "Native build whose files the Windows build exchanges")
  add_test(NAME windows.compatibility
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/windows_compat_test.sh
            ${native_build}/bin/kestrav3 ${CMAKE_BINARY_DIR}/bin ${CMAKE_BINARY_DIR}/wine)
  set_tests_properties(windows.compatibility PROPERTIES TIMEOUT 900 SKIP_RETURN_CODE 77 FIXTURES_REQUIRED wine)
endfunction()
