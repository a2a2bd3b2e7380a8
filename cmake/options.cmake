# Compiler settings shared by every target of the project (not by googletest).

if(VARNHOLT_SANITIZE)
  add_compile_options(-fsanitize=${VARNHOLT_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VARNHOLT_SANITIZE})
endif()

if(WIN32)
  # One self-contained executable: no libstdc++/winpthread DLLs to ship.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
endif()

# Warnings are errors in our own builds (the presets turn this on), not on a
# user's compiler we never tried. Fast-math stays off: the heat figures
# depend on the exact order of floating-point operations.
option(VARNHOLT_WERROR "Treat compiler warnings as errors" OFF)
function(varnholt_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
    -Wconversion -Wsign-conversion -ffp-contract=off)
  if(VARNHOLT_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

# googletest is built from Debian's source package so that the cross and
# sanitizer builds get a matching copy.
function(varnholt_use_gtest)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # g++ 12 at -O3 misreads a string insert in gtest.cc as an overlapping
    # copy; not our code to change.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(gtest PRIVATE -Wno-restrict)
    endif()
  endif()
endfunction()

# Adds one gtest executable and registers it with CTest.
function(varnholt_add_test name)
  varnholt_use_gtest()
  add_executable(${name} ${ARGN})
  varnholt_target_options(${name})
  target_link_libraries(${name} PRIVATE gtest_main gmock)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
