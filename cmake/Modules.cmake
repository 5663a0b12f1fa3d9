# What a module carries beside its code, from the files Windows builds it with: its resources (a
# resource script) and the ordinals of its exports (a module-definition file). Windows gives them
# to windres and the linker; the build over the platform layer turns them into the tables the
# layer reads.

# jtrk_add_resources(target script.rc)
function(jtrk_add_resources target script)
  if(WIN32)
    target_sources(${target} PRIVATE ${script})
    return()
  endif()
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  get_filename_component(name ${script} NAME_WE)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${name}_resources.cpp)
  add_custom_command(OUTPUT ${output}
                     COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/cmake/rc_tables.py
                             ${CMAKE_CURRENT_SOURCE_DIR}/${script} ${output}
                     DEPENDS ${script} ${PROJECT_SOURCE_DIR}/cmake/rc_tables.py VERBATIM)
  target_sources(${target} PRIVATE ${output})
endfunction()

# jtrk_add_header_ordinals(target header prefix): the ordinals of a header's export rows
# "X(name, ordinal, ...)", exported as prefix + name.
function(jtrk_add_header_ordinals target header prefix)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
  file(READ ${header} text)
  string(REGEX MATCHALL "[ \t]X\\([A-Za-z0-9_]+, [0-9]+" rows "${text}")
  set(exports "")
  foreach(row ${rows})
    string(REGEX REPLACE "^[ \t]X\\(([A-Za-z0-9_]+), ([0-9]+)" "    ${prefix}\\1 @\\2\n" line "${row}")
    string(APPEND exports "${line}")
  endforeach()
  set(definitions ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
  file(CONFIGURE OUTPUT ${definitions} CONTENT "LIBRARY ${target}\nEXPORTS\n${exports}")
  jtrk_add_ordinals(${target} ${definitions})
endfunction()

# jtrk_add_ordinals(target file.def): the "name @ordinal" lines of its EXPORTS.
function(jtrk_add_ordinals target definitions)
  if(WIN32)
    target_sources(${target} PRIVATE ${definitions})
    return()
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${definitions})
  file(STRINGS ${definitions} lines REGEX "^[ \t]*[A-Za-z_][A-Za-z0-9_]*[ \t]+@[0-9]+")
  set(rows "")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*([A-Za-z0-9_]+)[ \t]+@([0-9]+).*" "    {\\2, \"\\1\"},\n" row "${line}")
    string(APPEND rows "${row}")
  endforeach()
  get_filename_component(name ${definitions} NAME_WE)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${name}_ordinals.cpp)
  file(CONFIGURE OUTPUT ${output} CONTENT "// Generated from ${name}.def: the ordinals of the module's exports.
#include <windows.h>

extern \"C\" PAL_EXPORT const PAL_ORDINAL_EXPORT palOrdinalExports[];
const PAL_ORDINAL_EXPORT palOrdinalExports[] = {
${rows}    {0, nullptr},
};
")
  target_sources(${target} PRIVATE ${output})
endfunction()
