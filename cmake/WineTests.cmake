# Test programs run under Wine through CMAKE_CROSSCOMPILING_EMULATOR (cmake/wine.sh.in).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(WINE_LOADER /usr/lib/wine/wine64)
  set(ARCH_NAME "64-bit")
else()
  set(WINE_LOADER /usr/lib/wine/wine)
  set(ARCH_NAME "32-bit")
endif()
set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine.sh.in ${CMAKE_BINARY_DIR}/wine.sh
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE @ONLY)
set(WINE_SCRIPT ${CMAKE_BINARY_DIR}/wine.sh)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_SCRIPT})

add_test(NAME wine.start COMMAND ${WINE_SCRIPT} start)
set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
add_test(NAME wine.stop COMMAND ${WINE_SCRIPT} stop)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)

# One CTest test per Windows test program; exit code 77 (no 32-bit support) counts as skipped.
# A program that crashes fails by Wine's report of it: Wine's crash handler can end the
# program with status 0.
function(add_wine_test target)
  add_test(NAME ${target} COMMAND ${target} ${ARGN})
  set_tests_properties(${target} PROPERTIES
    FIXTURES_REQUIRED wine
    SKIP_RETURN_CODE 77
    FAIL_REGULAR_EXPRESSION "wine: Unhandled"
    TIMEOUT 120)
endfunction()

# Copies of DLL targets beside a program, refreshed whenever a DLL is rebuilt: a copy made
# after the program's link would go stale when only the DLL changes.
function(copy_dlls_beside target)
  get_target_property(dir ${target} RUNTIME_OUTPUT_DIRECTORY)
  set(copies)
  foreach(dll IN LISTS ARGN)
    get_target_property(name ${dll} OUTPUT_NAME)
    if(NOT name)
      set(name ${dll})
    endif()
    set(copy ${dir}/${name}.dll)
    add_custom_command(OUTPUT ${copy}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${dll}> ${copy}
      DEPENDS ${dll})
    list(APPEND copies ${copy})
  endforeach()
  add_custom_target(${target}_dlls DEPENDS ${copies})
  add_dependencies(${target} ${target}_dlls)
endfunction()
