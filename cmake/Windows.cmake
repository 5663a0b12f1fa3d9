# The Windows x64 build: the deliverables from the same sources, against the headers and libraries
# of mingw-w64, for Windows 10 and later.
enable_language(RC)
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 NTDDI_VERSION=0x0A000000 UNICODE _UNICODE
                        STRSAFE_NO_DEPRECATE)
# The C++ runtime and the thread library are linked into each module, which then needs no DLL of
# the compiler's.
add_link_options(-static)

# The print monitor's two calls of spoolss.dll. mingw-w64's import library of spoolss also exports
# a DllMain, which a module without its own would import in place of the runtime's: an import
# library of just these two instead.
set(spoolss_def ${CMAKE_CURRENT_BINARY_DIR}/spoolss_monitor.def)
set(spoolss_lib ${CMAKE_CURRENT_BINARY_DIR}/libspoolss_monitor.a)
file(WRITE ${spoolss_def} "LIBRARY SPOOLSS.DLL\nEXPORTS\n    ImpersonatePrinterClient\n    RevertToPrinterSelf\n")
add_custom_command(OUTPUT ${spoolss_lib} COMMAND ${CMAKE_DLLTOOL} -d ${spoolss_def} -l ${spoolss_lib}
                   DEPENDS ${spoolss_def} VERBATIM)
add_custom_target(spoolss_monitor_import DEPENDS ${spoolss_lib})
add_library(spoolss_monitor STATIC IMPORTED)
set_target_properties(spoolss_monitor PROPERTIES IMPORTED_LOCATION ${spoolss_lib})
add_dependencies(spoolss_monitor spoolss_monitor_import)

# Here the platform is Windows itself: `pal` names its libraries and the compatibility header.
add_library(pal INTERFACE)
target_include_directories(pal INTERFACE ${PROJECT_SOURCE_DIR}/common/include)
target_link_libraries(pal INTERFACE spoolss_monitor winspool ws2_32 iphlpapi advapi32 user32 comctl32 shlwapi msi ole32 oleaut32)

# Tests that need no spooler host, service control or second process run under wine; the others
# belong to the platform layer's build. jtrk_add_test_folder builds the listed ones.
set(JTRK_WINDOWS_TESTS "" CACHE STRING "Test programs built for Windows")
function(jtrk_add_test name)
endfunction()
function(jtrk_add_test_folder prefix)
endfunction()

foreach(component common/tracelog outside/VxSrvc PortMon/Server PortMon/UI Installer/Util)
  add_subdirectory(${component})
endforeach()
