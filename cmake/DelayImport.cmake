# zo_delay_import(LIB DLL [KEEP_STUBS]): an interface target delay_LIB that
# links DLL's functions as delay imports (cmake/delay-import.py says why), in
# place of the plain import library LIB. KEEP_STUBS: the DLL's API is declared
# dllimport, so the 32-bit link must be told to keep every stub.
function(zo_delay_import lib dll)
  find_library(ZO_IMPORT_${lib} ${lib} REQUIRED)
  set(dir ${CMAKE_BINARY_DIR}/delay-import)
  set(out ${dir}/lib${lib}_delay.a)
  set(keep ${dir}/${lib}-keep.ld)
  file(MAKE_DIRECTORY ${dir})
  add_custom_command(OUTPUT ${out} ${keep}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/delay-import.py ${CMAKE_NM} ${CMAKE_DLLTOOL}
            ${ZO_IMPORT_${lib}} ${dll} ${dir}/${lib}.def ${out} ${keep}
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/delay-import.py ${ZO_IMPORT_${lib}}
    COMMENT "Delay-import library of ${dll}" VERBATIM)
  add_custom_target(delay_${lib}_lib DEPENDS ${out} ${keep})
  add_library(delay_${lib} INTERFACE)
  add_dependencies(delay_${lib} delay_${lib}_lib)
  # The script goes first: the linker looks at an archive once, for the
  # symbols undefined by then.
  if("KEEP_STUBS" IN_LIST ARGN AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_libraries(delay_${lib} INTERFACE ${keep})
  endif()
  target_link_libraries(delay_${lib} INTERFACE ${out})
endfunction()
