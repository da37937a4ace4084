# GoogleTest for both builds and a helper that declares one test program.
if(CMAKE_CROSSCOMPILING)
  # Debian ships GoogleTest as source only for other targets: build it here.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# didurozir_add_test(NAME name SOURCES a.cpp ... LIBS lib ...)
# One GoogleTest program whose cases are discovered one by one; under Wine
# through the cross-compiling emulator.
function(didurozir_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main didurozir_options)
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS "unit;${T_LABELS}" TIMEOUT 300)
endfunction()
