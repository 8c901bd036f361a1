# Windows build (mingw-w64, i686): the installer, the sample program files it carries,
# and the Windows test programs that ctest runs under Wine.
enable_language(RC)
include(GoogleTest)

set(VELMORIX_PACKER "" CACHE FILEPATH "The host packing tool (velmorix-pack) built by the native build")
if(NOT VELMORIX_PACKER)
  message(FATAL_ERROR "Set VELMORIX_PACKER to the host build's velmorix-pack")
endif()

set(VELMORIX_WIN_DEFINITIONS _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX STRICT)
# Sources are UTF-8; every narrow literal is stored in code page 1251 for the ANSI calls.
set(VELMORIX_WIN_OPTIONS ${VELMORIX_WARNINGS} -fexec-charset=CP1251)
set(VELMORIX_STATIC_LINK -static -static-libgcc -static-libstdc++)

target_compile_definitions(velmorix_portable PUBLIC ${VELMORIX_WIN_DEFINITIONS})

function(velmorix_windows_library name)
  add_library(${name} STATIC ${ARGN} ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
  target_include_directories(${name} PUBLIC source resources)
  target_compile_options(${name} PRIVATE ${VELMORIX_WIN_OPTIONS})
endfunction()

# Shared layer: paths, texts, RAII, platform facts, launching, the shared record.
velmorix_windows_library(velmorix_shared
  source/shared/texts.cpp source/shared/platform.cpp
  source/shared/launch.cpp source/shared/installer_state.cpp source/shared/file_identity.cpp)
target_link_libraries(velmorix_shared PUBLIC velmorix_portable advapi32 user32 kernel32)

# Installation engine and system integration. The archive reader is portable and
# already part of velmorix_portable.
# Folder creation with access rights lives in the shared folder, below both: the
# extraction and the Start-menu shortcut use it, and the worker above them calls the
# integration steps. Libraries link one way:
# shared <- folders <- integration <- engine <- wizard.
file(GLOB VELMORIX_ENGINE_SOURCES CONFIGURE_DEPENDS source/engine/*.cpp)
list(FILTER VELMORIX_ENGINE_SOURCES EXCLUDE REGEX "(archive_reader|extraction_pace_[a-z]+)\\.cpp$")
velmorix_windows_library(velmorix_folders source/shared/folder_creation.cpp)
target_link_libraries(velmorix_folders PUBLIC velmorix_shared advapi32 user32)
file(GLOB VELMORIX_INTEGRATION_SOURCES CONFIGURE_DEPENDS source/integration/*.cpp)
velmorix_windows_library(velmorix_integration ${VELMORIX_INTEGRATION_SOURCES})
target_link_libraries(velmorix_integration PUBLIC velmorix_folders velmorix_shared ole32 oleaut32 uuid shell32 advapi32)
velmorix_windows_library(velmorix_engine ${VELMORIX_ENGINE_SOURCES})
target_link_libraries(velmorix_engine PUBLIC velmorix_integration velmorix_folders velmorix_shared shlwapi advapi32 ole32)

# Wizard: everything but the entry point, so tests can drive the pages in-process.
file(GLOB VELMORIX_WIZARD_SOURCES CONFIGURE_DEPENDS source/wizard/*.cpp)
list(FILTER VELMORIX_WIZARD_SOURCES EXCLUDE REGEX "entry_point\\.cpp$")
velmorix_windows_library(velmorix_wizard ${VELMORIX_WIZARD_SOURCES})
target_link_libraries(velmorix_wizard PUBLIC velmorix_engine velmorix_integration velmorix_shared
  comctl32 shell32 ole32 user32 gdi32)

# Sample program files carried in the program archive.
function(velmorix_sample name output)
  file(GLOB sources CONFIGURE_DEPENDS samples/${name}/*.cpp samples/common/*.cpp)
  add_executable(${name} WIN32 ${sources})
  set_target_properties(${name} PROPERTIES OUTPUT_NAME ${output} RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/samples)
  target_include_directories(${name} PRIVATE source samples)
  target_compile_definitions(${name} PRIVATE ${VELMORIX_WIN_DEFINITIONS})
  target_compile_options(${name} PRIVATE ${VELMORIX_WIN_OPTIONS})
  target_link_options(${name} PRIVATE ${VELMORIX_STATIC_LINK})
  target_link_libraries(${name} PRIVATE user32 gdi32 advapi32)
endfunction()
velmorix_sample(velmorix_app Velmorix)
velmorix_sample(uninstall_app Uninstall)

# Payload: bin/ plus the two sample executables, staged in the build folder, and work/.
set(PAYLOAD_DIR ${CMAKE_BINARY_DIR}/payload)
set(PROGRAM_ARCHIVE ${PAYLOAD_DIR}/program.bin)
set(WORK_ARCHIVE ${PAYLOAD_DIR}/work.bin)
file(GLOB_RECURSE VELMORIX_BIN_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bin/*)
file(GLOB_RECURSE VELMORIX_WORK_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/work/*)
add_custom_command(
  OUTPUT ${PROGRAM_ARCHIVE} ${WORK_ARCHIVE}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${PAYLOAD_DIR}/bin
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/bin ${PAYLOAD_DIR}/bin
  COMMAND ${CMAKE_COMMAND} -DSTAGE=${PAYLOAD_DIR}/bin -DSAMPLES=$<TARGET_FILE:velmorix_app>|$<TARGET_FILE:uninstall_app>
          -P ${CMAKE_SOURCE_DIR}/cmake/stage_samples.cmake
  COMMAND ${VELMORIX_PACKER} pack-pair ${PAYLOAD_DIR}/bin ${CMAKE_SOURCE_DIR}/work ${PROGRAM_ARCHIVE} ${WORK_ARCHIVE}
  DEPENDS velmorix_app uninstall_app ${VELMORIX_PACKER} ${VELMORIX_BIN_FILES} ${VELMORIX_WORK_FILES}
  COMMENT "Packing the payload archives"
  VERBATIM)
file(WRITE ${CMAKE_BINARY_DIR}/generated/payload_archives.rc.in
  "IDR_PROGRAM_ARCHIVE Binary \"@PROGRAM_ARCHIVE@\"\nIDR_WORK_ARCHIVE Binary \"@WORK_ARCHIVE@\"\n")
configure_file(${CMAKE_BINARY_DIR}/generated/payload_archives.rc.in ${CMAKE_BINARY_DIR}/generated/payload_archives.rc @ONLY)
# Both installers embed the archives; packed once, before either, or a parallel build
# packs them twice at the same time into the same staging folder.
add_custom_target(velmorix_payload DEPENDS ${PROGRAM_ARCHIVE} ${WORK_ARCHIVE})

# Every executable that links folder creation chooses how applied access lists are
# recorded: not at all (the installer that ships) or into the file named by
# VELMORIX_ACCESS_TRACE (test programs, and a traced copy of the installer that the
# end-to-end tests use for the one case that checks access lists).
# The same executables choose whether extraction can be slowed down between files
# (VELMORIX_FILE_PAUSE_MS, for end-to-end cases that act while files are written).
set(VELMORIX_TRACE_OFF ${CMAKE_SOURCE_DIR}/source/shared/access_trace_off.cpp
  ${CMAKE_SOURCE_DIR}/source/engine/extraction_pace_off.cpp)
set(VELMORIX_TRACE_FILE ${CMAKE_SOURCE_DIR}/source/shared/access_trace_file.cpp
  ${CMAKE_SOURCE_DIR}/source/engine/extraction_pace_env.cpp)

# The installer.
add_executable(VelmorixSetup WIN32 source/wizard/entry_point.cpp resources/installer.rc ${VELMORIX_TRACE_OFF})
add_dependencies(VelmorixSetup velmorix_payload)
target_compile_options(VelmorixSetup PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${VELMORIX_WIN_OPTIONS}>)
target_include_directories(VelmorixSetup PRIVATE source resources ${CMAKE_BINARY_DIR}/generated)
target_link_options(VelmorixSetup PRIVATE ${VELMORIX_STATIC_LINK})
target_link_libraries(VelmorixSetup PRIVATE velmorix_wizard)
set_source_files_properties(resources/installer.rc PROPERTIES
  OBJECT_DEPENDS "${PROGRAM_ARCHIVE};${WORK_ARCHIVE};${CMAKE_SOURCE_DIR}/resources/installer.ico;${CMAKE_SOURCE_DIR}/resources/installer.manifest;${CMAKE_SOURCE_DIR}/resources/resource_ids.h")
set_target_properties(VelmorixSetup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/dist)

add_executable(VelmorixSetupTraced WIN32 source/wizard/entry_point.cpp resources/installer.rc ${VELMORIX_TRACE_FILE})
add_dependencies(VelmorixSetupTraced velmorix_payload)
target_compile_options(VelmorixSetupTraced PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${VELMORIX_WIN_OPTIONS}>)
target_include_directories(VelmorixSetupTraced PRIVATE source resources ${CMAKE_BINARY_DIR}/generated)
target_link_options(VelmorixSetupTraced PRIVATE ${VELMORIX_STATIC_LINK})
target_link_libraries(VelmorixSetupTraced PRIVATE velmorix_wizard)
set_target_properties(VelmorixSetupTraced PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test-dist)

# GoogleTest, cross-built.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# The win32-threads mingw has no std::mutex: GoogleTest gets a Win32 Notification.
target_compile_options(gtest PUBLIC -include ${CMAKE_SOURCE_DIR}/cmake/gtest_notification.h)

# Paths handed to the Windows tests, in Wine's view of the Unix file system.
function(velmorix_wine_path out unix_path)
  string(REPLACE "/" "\\" converted "Z:${unix_path}")
  set(${out} "${converted}" PARENT_SCOPE)
endfunction()
velmorix_wine_path(WINE_INSTALLER_PATH ${CMAKE_BINARY_DIR}/dist/VelmorixSetup.exe)
velmorix_wine_path(WINE_TRACED_INSTALLER_PATH ${CMAKE_BINARY_DIR}/test-dist/VelmorixSetupTraced.exe)
velmorix_wine_path(WINE_BUILD_DIR ${CMAKE_BINARY_DIR})
velmorix_wine_path(WINE_PAYLOAD_DIR ${PAYLOAD_DIR})
# The Windows tests find the build through these variables. They travel in a small
# launcher generated per build (ctest's ENVIRONMENT property loses all but the first
# entry on its way through gtest_discover_tests).
file(WRITE ${CMAKE_BINARY_DIR}/wine-test-run.sh
  "#!/usr/bin/env bash\n"
  "export VELMORIX_INSTALLER='${WINE_INSTALLER_PATH}'\n"
  "export VELMORIX_TRACED_INSTALLER='${WINE_TRACED_INSTALLER_PATH}'\n"
  "export VELMORIX_BUILD_DIR='${WINE_BUILD_DIR}'\n"
  "export VELMORIX_PAYLOAD_DIR='${WINE_PAYLOAD_DIR}'\n"
  "exec '${CMAKE_SOURCE_DIR}/cmake/wine-run.sh' \"$@\"\n")
file(CHMOD ${CMAKE_BINARY_DIR}/wine-test-run.sh PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-test-run.sh)

function(velmorix_windows_test name folder trace)
  # A test folder's driver/ holds helpers its tests share (the e2e installer driver).
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.cpp ${folder}/driver/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources} ${trace})
  target_include_directories(${name} PRIVATE source resources tests)
  target_compile_options(${name} PRIVATE ${VELMORIX_WIN_OPTIONS})
  target_link_options(${name} PRIVATE ${VELMORIX_STATIC_LINK})
  target_link_libraries(${name} PRIVATE velmorix_wizard gtest gmock ${ARGN})
  add_dependencies(${name} VelmorixSetup VelmorixSetupTraced)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 300)
endfunction()

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/windows)
  velmorix_windows_test(velmorix_windows_tests tests/windows "${VELMORIX_TRACE_FILE}" gtest_main)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e)
  velmorix_windows_test(velmorix_e2e_tests tests/e2e "${VELMORIX_TRACE_OFF}" gtest_main)
endif()
file(GLOB VELMORIX_BENCH_SOURCES CONFIGURE_DEPENDS tests/bench/*.cpp)
if(VELMORIX_BENCH_SOURCES)
  add_executable(velmorix_extract_bench ${VELMORIX_BENCH_SOURCES} ${VELMORIX_TRACE_OFF})
  target_include_directories(velmorix_extract_bench PRIVATE source resources tests)
  target_compile_options(velmorix_extract_bench PRIVATE ${VELMORIX_WIN_OPTIONS})
  target_link_options(velmorix_extract_bench PRIVATE ${VELMORIX_STATIC_LINK})
  target_link_libraries(velmorix_extract_bench PRIVATE velmorix_wizard)
endif()

# The driver behind scripts/run.sh without a display: a whole installation through the
# wizard, with a screenshot of every page.
file(GLOB VELMORIX_DEMO_SOURCES CONFIGURE_DEPENDS tools/demo/*.cpp tests/e2e/driver/*.cpp)
if(VELMORIX_DEMO_SOURCES)
  add_executable(velmorix_demo ${VELMORIX_DEMO_SOURCES})
  set_target_properties(velmorix_demo PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  target_include_directories(velmorix_demo PRIVATE source resources tests)
  target_compile_options(velmorix_demo PRIVATE ${VELMORIX_WIN_OPTIONS})
  target_link_options(velmorix_demo PRIVATE ${VELMORIX_STATIC_LINK})
  target_link_libraries(velmorix_demo PRIVATE velmorix_shared user32 gdi32 advapi32 shell32 ole32 uuid)
endif()
