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
# Every function in a section of its own, so that the linker can drop what nothing
# calls (not -fdata-sections: mingw's GCC then puts zero-filled objects in .data$
# sections, which the linker keeps in the file's initialised data); the checkout's and the build's folders mapped to fixed names wherever
# the compiler would write them (debug information, __FILE__), so two checkouts of
# one commit build the same bytes.
set(VELMORIX_WIN_OPTIONS ${VELMORIX_WARNINGS} -fexec-charset=CP1251 -ffunction-sections
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}=/velmorix -ffile-prefix-map=${CMAKE_BINARY_DIR}=/velmorix-build)
# The installer's own code throws nothing and catches nothing (a failed allocation
# ends the process either way): without exception tables and unwind information, and
# at -O2 (its time goes to the system calls; the zstd decoder has its own flags), it
# is about a third smaller around its payload.
set(VELMORIX_COMPACT -O2 -fno-exceptions -fno-asynchronous-unwind-tables -fno-unwind-tables)
# No time stamp in the PE header (binutils writes the link time there by default).
set(VELMORIX_STATIC_LINK -static -static-libgcc -static-libstdc++ -Wl,--gc-sections -Wl,--no-insert-timestamp)
# What ships carries no symbols or debug information.
set(VELMORIX_SHIPPED_LINK ${VELMORIX_STATIC_LINK} -s)

target_compile_definitions(velmorix_portable PUBLIC ${VELMORIX_WIN_DEFINITIONS})
target_compile_options(velmorix_portable PRIVATE ${VELMORIX_COMPACT})
target_compile_options(velmorix_frame_decoder PRIVATE ${VELMORIX_COMPACT})
# The frame checksum's lanes are SSE2 (the decoder requires it, as does the zstd build).
set_source_files_properties(source/engine/frame_checksum.cpp PROPERTIES COMPILE_OPTIONS -msse2)

# The version header and the manifest, from the project's version number.
configure_file(resources/velmorix_version.h.in ${CMAKE_BINARY_DIR}/generated/velmorix_version.h @ONLY)
configure_file(resources/installer.manifest.in ${CMAKE_BINARY_DIR}/generated/installer.manifest @ONLY)

function(velmorix_windows_library name)
  add_library(${name} STATIC ${ARGN} ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
  target_include_directories(${name} PUBLIC source resources ${CMAKE_BINARY_DIR}/generated)
  target_compile_options(${name} PRIVATE ${VELMORIX_WIN_OPTIONS} ${VELMORIX_COMPACT})
endfunction()

# Shared layer: paths, texts and the sentence of each failure cause, RAII, platform facts, launching, the
# run log, the default folders, and the one walk down a path's folders (creating them
# with access rights when asked), which the run log, the pages and the engine use.
velmorix_windows_library(velmorix_shared
  source/shared/texts.cpp source/shared/failure_texts.cpp source/shared/platform.cpp
  source/shared/launch.cpp source/shared/system_libraries.cpp
  source/shared/run_log.cpp source/shared/default_folders.cpp source/shared/file_identity.cpp
  source/shared/held_folder.cpp source/shared/object_owner.cpp
  source/shared/folder_creation.cpp source/shared/folder_access.cpp source/shared/folder_walk.cpp)
target_link_libraries(velmorix_shared PUBLIC velmorix_portable shlwapi advapi32 user32 kernel32)

# Installation engine and system integration. The archive reader is portable and
# already part of velmorix_portable.
# The worker calls the integration steps. Libraries link one way:
# shared <- integration <- engine <- wizard.
file(GLOB VELMORIX_ENGINE_SOURCES CONFIGURE_DEPENDS source/engine/*.cpp)
list(FILTER VELMORIX_ENGINE_SOURCES EXCLUDE REGEX "(archive_reader|compressed_archive|payload_archive|frame_decoder|frame_checksum|payload_checksum|extraction_pace_[a-z]+)\\.cpp$")
file(GLOB VELMORIX_INTEGRATION_SOURCES CONFIGURE_DEPENDS source/integration/*.cpp)
velmorix_windows_library(velmorix_integration ${VELMORIX_INTEGRATION_SOURCES})
target_link_libraries(velmorix_integration PUBLIC velmorix_shared ole32 oleaut32 uuid shell32 advapi32)
velmorix_windows_library(velmorix_engine ${VELMORIX_ENGINE_SOURCES})
target_link_libraries(velmorix_engine PUBLIC velmorix_integration velmorix_shared velmorix_frame_decoder
  shlwapi advapi32 ole32)

# Wizard: everything but the entry point, so tests can drive the pages in-process.
file(GLOB VELMORIX_WIZARD_SOURCES CONFIGURE_DEPENDS source/wizard/*.cpp)
list(FILTER VELMORIX_WIZARD_SOURCES EXCLUDE REGEX "entry_point\\.cpp$")
velmorix_windows_library(velmorix_wizard ${VELMORIX_WIZARD_SOURCES})
# No comctl32 here: it is not a known DLL, so the installer loads it by its full path
# (shared/system_libraries.h) rather than importing it.
target_link_libraries(velmorix_wizard PUBLIC velmorix_engine velmorix_integration velmorix_shared
  shell32 ole32 user32 gdi32)

# Sample program files carried in the program archive.
function(velmorix_sample name output)
  file(GLOB sources CONFIGURE_DEPENDS samples/${name}/*.cpp samples/common/*.cpp)
  add_executable(${name} WIN32 ${sources})
  set_target_properties(${name} PROPERTIES OUTPUT_NAME ${output} RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/samples)
  target_include_directories(${name} PRIVATE source samples)
  target_compile_definitions(${name} PRIVATE ${VELMORIX_WIN_DEFINITIONS})
  target_compile_options(${name} PRIVATE ${VELMORIX_WIN_OPTIONS})
  target_link_options(${name} PRIVATE ${VELMORIX_SHIPPED_LINK})
  target_link_libraries(${name} PRIVATE user32 gdi32 advapi32)
endfunction()
velmorix_sample(velmorix_app Velmorix)
# A stand-in Uninstall.exe that only shows a window: the mode page's tests place it
# where an installation's uninstaller would lie and see that Remove starts it. Never
# packed (the payload carries the project's uninstaller).
velmorix_sample(uninstall_app Uninstall)

# The uninstaller, built like the installer (the same flags, manifest, version and
# library rules) from the same engine, and packed where bin/ carries no Uninstall.exe
# of the publisher's own.
file(GLOB VELMORIX_UNINSTALLER_SOURCES CONFIGURE_DEPENDS source/uninstaller/*.cpp)
set_source_files_properties(resources/uninstaller.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/resources/installer.ico;${CMAKE_BINARY_DIR}/generated/installer.manifest;${CMAKE_BINARY_DIR}/generated/velmorix_version.h;${CMAKE_SOURCE_DIR}/resources/resource_ids.h")
add_executable(velmorix_uninstaller WIN32 ${VELMORIX_UNINSTALLER_SOURCES} resources/uninstaller.rc ${CMAKE_SOURCE_DIR}/source/shared/access_trace_off.cpp ${CMAKE_SOURCE_DIR}/source/engine/extraction_pace_off.cpp)
set_target_properties(velmorix_uninstaller PROPERTIES OUTPUT_NAME Uninstall RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/uninstaller)
target_compile_options(velmorix_uninstaller PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${VELMORIX_WIN_OPTIONS}> $<$<COMPILE_LANGUAGE:CXX>:${VELMORIX_COMPACT}>)
target_include_directories(velmorix_uninstaller PRIVATE source resources ${CMAKE_BINARY_DIR}/generated)
target_link_options(velmorix_uninstaller PRIVATE ${VELMORIX_SHIPPED_LINK})
target_link_libraries(velmorix_uninstaller PRIVATE velmorix_engine velmorix_shared user32 shell32 ole32)
# Unattended, the process started from the install folder only copies itself and waits
# for the copy: the window and COM libraries (and shlwapi, which brings the window ones)
# are bound on their first call, so that process never loads them. Each is a known DLL,
# always taken from the system folder. The delay-import libraries are made from what
# the objects and libraries call, just before the link, and come ahead of everything.
set(VELMORIX_DELAY_DIR ${CMAKE_BINARY_DIR}/delayload)
set(VELMORIX_UNINSTALLER_LIBRARIES velmorix_engine velmorix_integration velmorix_shared)
set(VELMORIX_DELAY_INPUTS $<TARGET_OBJECTS:velmorix_uninstaller>)
foreach(library IN LISTS VELMORIX_UNINSTALLER_LIBRARIES)
  list(APPEND VELMORIX_DELAY_INPUTS $<TARGET_FILE:${library}>)
endforeach()
add_custom_command(TARGET velmorix_uninstaller PRE_LINK
  COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL} "-DINPUTS=${VELMORIX_DELAY_INPUTS}"
          "-DDLLS=user32;shell32;ole32;shlwapi" -DIMPORT_DIR=${CMAKE_FIND_ROOT_PATH}/lib -DOUTPUT_DIR=${VELMORIX_DELAY_DIR}
          -P ${CMAKE_SOURCE_DIR}/cmake/delay_import_library.cmake
  VERBATIM)
target_link_options(velmorix_uninstaller PRIVATE -Wl,@${VELMORIX_DELAY_DIR}/delayed.rsp)
set_property(TARGET velmorix_uninstaller APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/delay_import_library.cmake)

# Payload: bin/ plus the two sample executables, staged in the build folder, and work/
# (linked there, not copied). Another payload (the benchmark's) is packed the same way
# from the folders named here. Both are packed as if they lay under the fixed root
# VELMORIX_PACKED_ROOT, so the archives' source paths (Z:\velmorix\bin\...) do not
# depend on where the checkout is: two builds of one commit give the same bytes.
set(VELMORIX_BIN_DIR ${CMAKE_SOURCE_DIR}/bin CACHE PATH "Program files packed into the program archive (109)")
set(VELMORIX_WORK_DIR ${CMAKE_SOURCE_DIR}/work CACHE PATH "Work folder tree packed into the work archive (110)")
set(VELMORIX_PACKED_ROOT /velmorix)
set(PAYLOAD_DIR ${CMAKE_BINARY_DIR}/payload)
set(PROGRAM_ARCHIVE ${PAYLOAD_DIR}/program.bin)
set(WORK_ARCHIVE ${PAYLOAD_DIR}/work.bin)
set(PAYLOAD_CHECKSUMS ${PAYLOAD_DIR}/checksums.bin)
# The project's Uninstall.exe is signed before it is packed when this is on; the
# certificate and key come from the build's environment (scripts/sign.sh). The stamp
# changes with the setting, so that switching it packs again.
option(VELMORIX_SIGN_UNINSTALLER "Sign the project's Uninstall.exe with scripts/sign.sh before packing" OFF)
set(VELMORIX_SIGN_STAMP ${CMAKE_BINARY_DIR}/generated/sign_uninstaller.txt)
file(CONFIGURE OUTPUT ${VELMORIX_SIGN_STAMP} CONTENT "${VELMORIX_SIGN_UNINSTALLER}\n")
if(VELMORIX_SIGN_UNINSTALLER)
  set(VELMORIX_SIGN_ARGUMENT -DSIGN_SCRIPT=${CMAKE_SOURCE_DIR}/scripts/sign.sh)
else()
  set(VELMORIX_SIGN_ARGUMENT -DSIGN_SCRIPT=)
endif()
file(GLOB_RECURSE VELMORIX_BIN_FILES CONFIGURE_DEPENDS ${VELMORIX_BIN_DIR}/*)
file(GLOB_RECURSE VELMORIX_WORK_FILES CONFIGURE_DEPENDS ${VELMORIX_WORK_DIR}/*)
add_custom_command(
  OUTPUT ${PROGRAM_ARCHIVE} ${WORK_ARCHIVE} ${PAYLOAD_CHECKSUMS}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${PAYLOAD_DIR}/bin ${PAYLOAD_DIR}/work
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${VELMORIX_BIN_DIR} ${PAYLOAD_DIR}/bin
  COMMAND ${CMAKE_COMMAND} -E create_symlink ${VELMORIX_WORK_DIR} ${PAYLOAD_DIR}/work
  COMMAND ${CMAKE_COMMAND} -DSTAGE=${PAYLOAD_DIR}/bin -DSAMPLES=$<TARGET_FILE:velmorix_app>|$<TARGET_FILE:velmorix_uninstaller>
          ${VELMORIX_SIGN_ARGUMENT} -P ${CMAKE_SOURCE_DIR}/cmake/stage_samples.cmake
  COMMAND ${VELMORIX_PACKER} --prefix-map=${PAYLOAD_DIR}=${VELMORIX_PACKED_ROOT}
          pack-pair ${PAYLOAD_DIR}/bin ${PAYLOAD_DIR}/work ${PROGRAM_ARCHIVE} ${WORK_ARCHIVE} ${PAYLOAD_CHECKSUMS}
  DEPENDS velmorix_app velmorix_uninstaller ${VELMORIX_PACKER} ${VELMORIX_BIN_FILES} ${VELMORIX_WORK_FILES}
          ${VELMORIX_SIGN_STAMP} ${CMAKE_SOURCE_DIR}/cmake/stage_samples.cmake
  COMMENT "Packing the payload archives"
  VERBATIM)
# One target makes the payload, and both installers wait for it: with two targets
# running the same packing command at once, one removes the staged folder under the
# other.
add_custom_target(velmorix_payload DEPENDS ${PROGRAM_ARCHIVE} ${WORK_ARCHIVE} ${PAYLOAD_CHECKSUMS})
# The compressed form of the same pair (zstd frames, engine/compressed_archive.h) with
# checksums of its own: always made, for the second installer that the tests run, and
# carried by the installer in dist/ when VELMORIX_PAYLOAD_COMPRESSION is zstd.
set(VELMORIX_PAYLOAD_COMPRESSION "" CACHE STRING "The payload form of dist/VelmorixSetup.exe: empty (stored) or zstd")
set_property(CACHE VELMORIX_PAYLOAD_COMPRESSION PROPERTY STRINGS "" zstd)
if(NOT VELMORIX_PAYLOAD_COMPRESSION STREQUAL "" AND NOT VELMORIX_PAYLOAD_COMPRESSION STREQUAL "zstd")
  message(FATAL_ERROR "VELMORIX_PAYLOAD_COMPRESSION is empty or zstd, not '${VELMORIX_PAYLOAD_COMPRESSION}'")
endif()
set(COMPRESSED_PROGRAM_ARCHIVE ${PAYLOAD_DIR}/program.vxz)
set(COMPRESSED_WORK_ARCHIVE ${PAYLOAD_DIR}/work.vxz)
set(COMPRESSED_CHECKSUMS ${PAYLOAD_DIR}/checksums-vxz.bin)
add_custom_command(
  OUTPUT ${COMPRESSED_PROGRAM_ARCHIVE} ${COMPRESSED_WORK_ARCHIVE} ${COMPRESSED_CHECKSUMS}
  COMMAND ${VELMORIX_PACKER} compress-pair ${PROGRAM_ARCHIVE} ${WORK_ARCHIVE}
          ${COMPRESSED_PROGRAM_ARCHIVE} ${COMPRESSED_WORK_ARCHIVE} ${COMPRESSED_CHECKSUMS}
  DEPENDS ${PROGRAM_ARCHIVE} ${WORK_ARCHIVE} ${VELMORIX_PACKER}
  COMMENT "Compressing the payload archives"
  VERBATIM)
add_custom_target(velmorix_compressed_payload DEPENDS ${COMPRESSED_PROGRAM_ARCHIVE} ${COMPRESSED_WORK_ARCHIVE}
  ${COMPRESSED_CHECKSUMS} velmorix_payload)

# One resource script per payload form: it includes resources/installer.rc, which
# includes the form's payload_archives.rc, and is rebuilt when that form's archives
# change.
function(velmorix_payload_rc form program work sums)
  set(dir ${CMAKE_BINARY_DIR}/generated/${form})
  file(MAKE_DIRECTORY ${dir})
  # Written only when changed, so that a new configure rebuilds nothing.
  file(CONFIGURE OUTPUT ${dir}/payload_archives.rc CONTENT
    "IDR_PROGRAM_ARCHIVE Binary \"${program}\"\nIDR_WORK_ARCHIVE Binary \"${work}\"\nIDR_PAYLOAD_CHECKSUMS Binary \"${sums}\"\n")
  file(CONFIGURE OUTPUT ${dir}/installer_${form}.rc CONTENT "#include \"installer.rc\"\n")
  set_source_files_properties(${dir}/installer_${form}.rc PROPERTIES OBJECT_DEPENDS
    "${program};${work};${sums};${CMAKE_SOURCE_DIR}/resources/installer.rc;${CMAKE_SOURCE_DIR}/resources/installer.ico;${CMAKE_BINARY_DIR}/generated/installer.manifest;${CMAKE_BINARY_DIR}/generated/velmorix_version.h;${CMAKE_SOURCE_DIR}/resources/resource_ids.h")
endfunction()
velmorix_payload_rc(stored ${PROGRAM_ARCHIVE} ${WORK_ARCHIVE} ${PAYLOAD_CHECKSUMS})
velmorix_payload_rc(zstd ${COMPRESSED_PROGRAM_ARCHIVE} ${COMPRESSED_WORK_ARCHIVE} ${COMPRESSED_CHECKSUMS})
if(VELMORIX_PAYLOAD_COMPRESSION STREQUAL "zstd")
  set(VELMORIX_DIST_FORM zstd)
  set(VELMORIX_DIST_COMPRESSED_LINE "export VELMORIX_DIST_COMPRESSED=1\n")
else()
  set(VELMORIX_DIST_FORM stored)
endif()

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

# The installers: the one that ships, a traced one for the end-to-end tests (stored
# payload), and both again with the compressed payload, for the tests' second run.
function(velmorix_installer name folder form link trace)
  add_executable(${name} WIN32 source/wizard/entry_point.cpp ${CMAKE_BINARY_DIR}/generated/${form}/installer_${form}.rc
    ${trace})
  if(form STREQUAL "zstd")
    add_dependencies(${name} velmorix_compressed_payload)
  else()
    add_dependencies(${name} velmorix_payload)
  endif()
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${VELMORIX_WIN_OPTIONS}> $<$<COMPILE_LANGUAGE:CXX>:${VELMORIX_COMPACT}>)
  target_include_directories(${name} PRIVATE source resources ${CMAKE_BINARY_DIR}/generated/${form}
    ${CMAKE_BINARY_DIR}/generated)
  target_link_options(${name} PRIVATE ${link})
  target_link_libraries(${name} PRIVATE velmorix_wizard)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder})
endfunction()
velmorix_installer(VelmorixSetup dist ${VELMORIX_DIST_FORM} "${VELMORIX_SHIPPED_LINK}" "${VELMORIX_TRACE_OFF}")
velmorix_installer(VelmorixSetupTraced test-dist stored "${VELMORIX_STATIC_LINK}" "${VELMORIX_TRACE_FILE}")
velmorix_installer(VelmorixSetupCompressed test-dist zstd "${VELMORIX_SHIPPED_LINK}" "${VELMORIX_TRACE_OFF}")
velmorix_installer(VelmorixSetupTracedCompressed test-dist zstd "${VELMORIX_STATIC_LINK}" "${VELMORIX_TRACE_FILE}")

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
velmorix_wine_path(WINE_COMPRESSED_INSTALLER_PATH ${CMAKE_BINARY_DIR}/test-dist/VelmorixSetupCompressed.exe)
velmorix_wine_path(WINE_TRACED_COMPRESSED_INSTALLER_PATH ${CMAKE_BINARY_DIR}/test-dist/VelmorixSetupTracedCompressed.exe)
velmorix_wine_path(WINE_BUILD_DIR ${CMAKE_BINARY_DIR})
velmorix_wine_path(WINE_PAYLOAD_DIR ${PAYLOAD_DIR})
velmorix_wine_path(WINE_SOURCE_DIR ${CMAKE_SOURCE_DIR})
# Links that the installer must not write through, made on the Unix side (Wine's
# CreateSymbolicLink creates nothing): a link to a folder, a link to a missing file,
# and a second name of a file. Made again on every configure. (Wine shows a link to a
# file as the file itself, so that kind cannot be told apart here.)
set(LINK_FIXTURES ${CMAKE_BINARY_DIR}/link-fixtures)
file(REMOVE_RECURSE ${LINK_FIXTURES})
file(MAKE_DIRECTORY ${LINK_FIXTURES}/real-folder)
file(CREATE_LINK ${LINK_FIXTURES}/real-folder ${LINK_FIXTURES}/folder-link SYMBOLIC)
file(CREATE_LINK ${LINK_FIXTURES}/missing.txt ${LINK_FIXTURES}/dangling-link.txt SYMBOLIC)
file(WRITE ${LINK_FIXTURES}/named-twice.txt "named twice\n")
file(CREATE_LINK ${LINK_FIXTURES}/named-twice.txt ${LINK_FIXTURES}/second-name.txt)
string(REPLACE "/" "\\" WINE_PACKED_ROOT "Z:${VELMORIX_PACKED_ROOT}")
# The Windows tests find the build through these variables. They travel in a small
# launcher generated per build (ctest's ENVIRONMENT property loses all but the first
# entry on its way through gtest_discover_tests).
file(WRITE ${CMAKE_BINARY_DIR}/wine-test-run.sh
  "#!/usr/bin/env bash\n"
  "export VELMORIX_INSTALLER='${WINE_INSTALLER_PATH}'\n"
  "export VELMORIX_TRACED_INSTALLER='${WINE_TRACED_INSTALLER_PATH}'\n"
  "export VELMORIX_COMPRESSED_INSTALLER='${WINE_COMPRESSED_INSTALLER_PATH}'\n"
  "${VELMORIX_DIST_COMPRESSED_LINE}"
  "export VELMORIX_BUILD_DIR='${WINE_BUILD_DIR}'\n"
  "export VELMORIX_PAYLOAD_DIR='${WINE_PAYLOAD_DIR}'\n"
  "export VELMORIX_SOURCE_DIR='${WINE_SOURCE_DIR}'\n"
  "export VELMORIX_PACKED_ROOT='${WINE_PACKED_ROOT}'\n"
  "# The second run of the end-to-end suites (VELMORIX_PAYLOAD_FORM=compressed) drives\n"
  "# the installer with the compressed payload.\n"
  "if [ \"\${VELMORIX_PAYLOAD_FORM:-}\" = compressed ]; then\n"
  "  export VELMORIX_INSTALLER=\"\$VELMORIX_COMPRESSED_INSTALLER\"\n"
  "  export VELMORIX_TRACED_INSTALLER='${WINE_TRACED_COMPRESSED_INSTALLER_PATH}'\n"
  "fi\n"
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
  add_dependencies(${name} VelmorixSetup VelmorixSetupTraced VelmorixSetupCompressed VelmorixSetupTracedCompressed)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 300)
endfunction()

# The end-to-end cases once more against the installer with the compressed payload,
# as Compressed.<suite>.<case>.
function(velmorix_compressed_run name)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 TEST_PREFIX "Compressed."
    TEST_LIST ${name}_compressed_TESTS PROPERTIES TIMEOUT 300 ENVIRONMENT "VELMORIX_PAYLOAD_FORM=compressed")
endfunction()

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/windows)
  velmorix_windows_test(velmorix_windows_tests tests/windows "${VELMORIX_TRACE_FILE}" gtest_main)
  # The payload once more in frames of 64 KiB: several frames per file, more frames
  # than the decoding pool has slots.
  set(SMALL_FRAMES ${PAYLOAD_DIR}/small-frames)
  add_custom_command(
    OUTPUT ${SMALL_FRAMES}/program.vxz ${SMALL_FRAMES}/work.vxz ${SMALL_FRAMES}/checksums.bin
    COMMAND ${CMAKE_COMMAND} -E make_directory ${SMALL_FRAMES}
    COMMAND ${VELMORIX_PACKER} compress-pair --frame-size=65536 ${PROGRAM_ARCHIVE} ${WORK_ARCHIVE}
            ${SMALL_FRAMES}/program.vxz ${SMALL_FRAMES}/work.vxz ${SMALL_FRAMES}/checksums.bin
    DEPENDS ${PROGRAM_ARCHIVE} ${WORK_ARCHIVE} ${VELMORIX_PACKER}
    COMMENT "Compressing the payload in small frames for the tests"
    VERBATIM)
  add_custom_target(velmorix_small_frames DEPENDS ${SMALL_FRAMES}/program.vxz velmorix_payload)
  add_dependencies(velmorix_windows_tests velmorix_small_frames)
  # The uninstaller's own code, its entry point left out.
  set(VELMORIX_UNINSTALLER_CODE ${VELMORIX_UNINSTALLER_SOURCES})
  list(FILTER VELMORIX_UNINSTALLER_CODE EXCLUDE REGEX "uninstaller_entry\\.cpp$")
  target_sources(velmorix_windows_tests PRIVATE ${VELMORIX_UNINSTALLER_CODE})
  add_dependencies(velmorix_windows_tests velmorix_uninstaller)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e)
  velmorix_windows_test(velmorix_e2e_tests tests/e2e "${VELMORIX_TRACE_OFF}" gtest_main version)
  velmorix_compressed_run(velmorix_e2e_tests)
endif()
# For the planted-library case of the end-to-end tests: a comctl32.dll that marks
# when it is loaded, and a program importing comctl32 the ordinary way (the control).
if(TARGET velmorix_e2e_tests)
  add_library(velmorix_planted_comctl32 SHARED tests/e2e/planted/comctl32.c tests/e2e/planted/comctl32.def)
  add_executable(velmorix_planted_probe WIN32 tests/e2e/planted/probe.c)
  target_link_libraries(velmorix_planted_probe PRIVATE comctl32)
  foreach(planted velmorix_planted_comctl32 velmorix_planted_probe)
    target_compile_options(${planted} PRIVATE ${VELMORIX_WARNINGS})
    target_compile_definitions(${planted} PRIVATE ${VELMORIX_WIN_DEFINITIONS})
    target_link_options(${planted} PRIVATE -static-libgcc)
    set_target_properties(${planted} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted)
  endforeach()
  set_target_properties(velmorix_planted_comctl32 PROPERTIES OUTPUT_NAME comctl32 PREFIX "")
  set_target_properties(velmorix_planted_probe PROPERTIES OUTPUT_NAME probe)
  add_dependencies(velmorix_e2e_tests velmorix_planted_comctl32 velmorix_planted_probe)
endif()

# Which cases share machine state, for a parallel ctest (read after discovery).
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_SOURCE_DIR}/tests/shared_state.cmake)
file(GLOB VELMORIX_BENCH_SOURCES CONFIGURE_DEPENDS tests/bench/*.cpp)
if(VELMORIX_BENCH_SOURCES)
  add_executable(velmorix_extract_bench ${VELMORIX_BENCH_SOURCES} ${VELMORIX_TRACE_OFF})
  target_include_directories(velmorix_extract_bench PRIVATE source resources tests)
  target_compile_options(velmorix_extract_bench PRIVATE ${VELMORIX_WIN_OPTIONS})
  target_link_options(velmorix_extract_bench PRIVATE ${VELMORIX_STATIC_LINK})
  target_link_libraries(velmorix_extract_bench PRIVATE velmorix_wizard)
endif()

# Programs that drive the real installer from outside (tests/e2e/driver): the one
# behind scripts/run.sh without a display (a whole installation through the wizard,
# with a screenshot of every page) and the one behind scripts/bench.sh.
function(velmorix_driver_tool name folder)
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources} ${CMAKE_SOURCE_DIR}/tests/e2e/driver/installer_driver.cpp)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  target_include_directories(${name} PRIVATE source resources tests)
  target_compile_options(${name} PRIVATE ${VELMORIX_WIN_OPTIONS})
  target_link_options(${name} PRIVATE ${VELMORIX_STATIC_LINK})
  target_link_libraries(${name} PRIVATE velmorix_shared user32 gdi32 advapi32 shell32 ole32 uuid)
endfunction()
velmorix_driver_tool(velmorix_demo tools/demo)
velmorix_driver_tool(velmorix_bench tools/bench)
