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

# Test programs are built here only where they need no spooler host, service control, platform
# root or second process: they are listed below and run under wine, one CTest test per program.
# The components' own test calls belong to the build over the platform layer.
function(jtrk_add_test name)
endfunction()
function(jtrk_add_test_folder prefix)
endfunction()

option(JTRK_WINDOWS_TESTS "Build the platform-free tests for Windows (run under wine)" ON)
if(JTRK_WINDOWS_TESTS)
  enable_testing()
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The programs share one wine prefix below the build folder and run in a Japanese locale: ANSI
  # code page 932, as on the systems the product is made for. One wine server, started for the run
  # and kept until its end, serves them all: a server of its own would start with the first program
  # and end with the last one alive, taking wine's own processes (the device host of the network
  # calls among them) down while the next programs start, which then hung now and then at their
  # end. Any server left over from a run that was cut short goes first. The prefix's folder is made
  # first: a fresh build has none, and the server starts only in an existing one.
  find_program(JTRK_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(wine_environment "WINEPREFIX=${CMAKE_BINARY_DIR}/wine;WINEDEBUG=-all;LC_ALL=ja_JP.UTF-8")
  # (The server and wine's processes outlive the test that starts them: their output goes nowhere,
  # or CTest would wait for it.)
  add_test(NAME wine_prefix COMMAND sh -c "mkdir -p '${CMAKE_BINARY_DIR}/wine' && { '${JTRK_WINESERVER}' -k; '${JTRK_WINESERVER}' -w; } && '${JTRK_WINESERVER}' -p >/dev/null 2>&1 && '${CMAKE_CROSSCOMPILING_EMULATOR}' wineboot --init >/dev/null 2>&1")
  set_tests_properties(wine_prefix PROPERTIES TIMEOUT 120 FIXTURES_SETUP wine ENVIRONMENT "${wine_environment}")
  add_test(NAME wine_server_end COMMAND ${JTRK_WINESERVER} -k)
  set_tests_properties(wine_server_end PROPERTIES TIMEOUT 60 FIXTURES_CLEANUP wine ENVIRONMENT "${wine_environment}")
  # ARGS: the program's arguments (a filter of its cases).
  function(jtrk_add_windows_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
    add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS "${T_LABELS}" FIXTURES_REQUIRED wine
                         ENVIRONMENT "${wine_environment}")
  endfunction()
endif()

# What the service needs of the compiler's COM support library (see ComSupport.cpp).
add_library(comsupport STATIC ${PROJECT_SOURCE_DIR}/common/comsupport/ComSupport.cpp)
target_link_libraries(comsupport PUBLIC ole32 oleaut32 uuid)

foreach(component common/tracelog common/layouts outside/winsock outside/VxSrvc outside/VxTrans outside/VxRouting DMLP_API/Src/VxDmlp CLIB Service PortMon/Server PortMon/UI Installer/Util)
  add_subdirectory(${component})
endforeach()
target_link_libraries(jtrksvc PUBLIC comsupport)

if(JTRK_WINDOWS_TESTS)
  # The message coder, byte for byte.
  file(GLOB coder_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/DMLP_API/Src/VxDmlp/tests/test_*.cpp)
  foreach(source ${coder_tests})
    get_filename_component(stem ${source} NAME_WE)
    jtrk_add_windows_test(vxdmlp_${stem} SOURCES ${source} LIBS vxdmlp_coder pal LABELS vxdmlp)
  endforeach()
  # A fresh temporary folder as the platform root of a test.
  add_library(testsupport_root STATIC ${PROJECT_SOURCE_DIR}/pal/testsupport/TempRoot.cpp)
  target_include_directories(testsupport_root PUBLIC ${PROJECT_SOURCE_DIR}/pal/testsupport)
  # The platform layer's test hooks that these tests use (fixed clock, debugger output captured,
  # executable path set), over Windows itself.
  add_library(testsupport_hooks STATIC tests/windows/hooks/TestHooks.cpp)
  target_include_directories(testsupport_hooks PUBLIC ${PROJECT_SOURCE_DIR}/tests/windows/hooks)
  # The trace log.
  jtrk_add_windows_test(tracelog_test_tracelog SOURCES common/tracelog/tests/test_tracelog.cpp
                        LIBS tracelog testsupport_root testsupport_hooks LABELS tracelog)
  # The monitor's job-message parser, over job messages made by the tests' builder of them.
  add_library(jobmsg_builder STATIC ${PROJECT_SOURCE_DIR}/tools/jobmsg/JobMessages.cpp)
  target_include_directories(jobmsg_builder PUBLIC ${PROJECT_SOURCE_DIR}/tools/jobmsg)
  jtrk_add_windows_test(jtrkmon2_test_jobheader SOURCES PortMon/Server/tests/test_jobheader.cpp
                        LIBS jtrkmon2_static jobmsg_builder testsupport_root testsupport_hooks LABELS portmon)
  target_include_directories(jtrkmon2_test_jobheader PRIVATE ${PROJECT_SOURCE_DIR}/PortMon/Server/tests/support)
  # The monitor's multibyte texts (server address, LPR control file), over the spooler double.
  jtrk_add_windows_test(jtrkmon2_test_texts SOURCES PortMon/Server/tests/test_texts.cpp
                        PortMon/Server/tests/support/spooler_double.cpp LIBS jtrkmon2_static LABELS portmon)
  target_include_directories(jtrkmon2_test_texts PRIVATE ${PROJECT_SOURCE_DIR}/PortMon/Server/tests/support)
  # The resources windres put into the modules.
  jtrk_add_windows_test(windows_test_module_resources SOURCES tests/windows/test_module_resources.cpp LABELS resources)
  add_dependencies(windows_test_module_resources JTRKMNUI2 JTRKSVC2 JTRKUtil)
  # The protocol engine over the scriptable transport.
  file(GLOB engine_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/DMLP_API/Src/VxDmlp/engine/tests/test_*.cpp)
  # Under wine the stop under load hangs now and then (about one run in fifteen) in the join of a
  # message thread whose loop has ended (its exit never completes), after the stop and its flush
  # were answered; it runs over the platform layer.
  set(engine_test_start_stop_args --gtest_filter=-Stopping.StopUnderLoadAnswersEveryAcceptedPost)
  foreach(source ${engine_tests})
    get_filename_component(stem ${source} NAME_WE)
    jtrk_add_windows_test(vxdmlp_engine_${stem} SOURCES ${source} $<TARGET_OBJECTS:vxdmlp_engine>
                          LIBS vxdmlp_coder pal VxSrvc VxTransFake VxRoutingHeaders testsupport_root
                          LABELS vxdmlp ARGS ${engine_${stem}_args})
    target_include_directories(vxdmlp_engine_${stem} PRIVATE ${PROJECT_SOURCE_DIR}/DMLP_API/Src/VxDmlp/engine)
  endforeach()
  # The transport over Winsock, with endpoints of its own on both ends of loopback exchanges.
  jtrk_add_windows_test(vxtrans_test_vxtrans_loopback SOURCES outside/VxTrans/tests/test_vxtrans_loopback.cpp
                        LIBS VxTrans VxSrvc ws2_32 LABELS vxtrans)
  target_include_directories(vxtrans_test_vxtrans_loopback PRIVATE ${PROJECT_SOURCE_DIR}/outside/VxTrans/tests)
  # The client library's result codes over a scripted protocol library.
  foreach(stem test_exports test_status)
    jtrk_add_windows_test(jtrkclib_${stem} SOURCES CLIB/tests/${stem}.cpp CLIB/tests/support/FakeDmlp.cpp
                          LIBS jtrkclib_core vxdmlp_coder testsupport_root LABELS clib)
    target_include_directories(jtrkclib_${stem} PRIVATE ${PROJECT_SOURCE_DIR}/CLIB/tests/support
                               ${PROJECT_SOURCE_DIR}/DMLP_API/Src/VxDmlp/tests)
  endforeach()
  # The client job id and the service's status table.
  jtrk_add_windows_test(service_test_client_job_id SOURCES Service/tests/test_client_job_id.cpp LIBS clientjobid
                        LABELS service)
  jtrk_add_windows_test(service_test_dev_msg_table SOURCES Service/tests/test_dev_msg_table.cpp LIBS jtrksvc
                        LABELS service)
  # The service's job table and its string table (the test program carries the service's resources).
  jtrk_add_windows_test(service_test_job_table SOURCES Service/tests/test_job_table.cpp
                        Service/tests/support/FakeNotices.cpp LIBS jtrksvc LABELS service)
  target_include_directories(service_test_job_table PRIVATE ${PROJECT_SOURCE_DIR}/Service/tests/support)
  jtrk_add_windows_test(service_test_service_strings SOURCES Service/tests/test_service_strings.cpp
                        LIBS jtrksvc jtrksvc_strings LABELS service)
endif()
