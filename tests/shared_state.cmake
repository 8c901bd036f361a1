# Read by ctest after the Windows test programs' discovered cases: gives every case
# the locks of the machine state it shares with other cases, so that `ctest -j N`
# never runs two cases that touch the same state at once. Cases of one suite share
# its locks, so a suite with fixed paths or keys also runs its own cases one by one.
#
#   velmorix-desktop            visible windows and message boxes found by class and
#                               title, focus, key presses, screenshots
#   velmorix-uninstall-entry    HKLM ...\Uninstall\Velmorix (both registry views)
#   velmorix-file-association   the .qzp, qzl and Applications\Velmorix.exe class keys
#   velmorix-shortcuts          the common desktop and Start-menu Tarkweller folder,
#                               and the shortcut tests' own folder under TEMP
#   velmorix-default-folders    Tarkweller under Program Files, ProgramData and TEMP,
#                               the end-to-end scratch folders on C:
#   velmorix-drive-t            the full 1 MiB disk mounted as T:
#   velmorix-run-journal        a run's journal under HKLM\Software\VelmorixSetup, the
#                               run lock, and the keep folders at the root of C:
#
# A case whose suite is not listed below takes every lock: a new suite runs safely
# (alone) until it is placed here.
set(velmorix_all_locks velmorix-desktop velmorix-uninstall-entry velmorix-file-association
    velmorix-shortcuts velmorix-default-folders velmorix-drive-t velmorix-run-journal)

# Suite name -> locks, separated by commas ("none" for suites that touch only their own temporary folders,
# in-memory state or read-only resources).
set(velmorix_suite_locks
  # End-to-end: the real installer on the real machine state, windows on the screen.
  ModePageTest                "all"
  SettingsPageTest            "all"
  ProgressPageTest            "all"
  AfterAnInstallVisit         "all"
  UnattendedTest              "all"
  LifecycleTest               "all"   # the whole machine, compared before and after
  Compressed                  "all"   # every end-to-end case again, compressed payload
  # Windows unit tests.
  FolderCreation              "velmorix-desktop"  # finds its message box by title
  UninstallRegistrationTest   "velmorix-uninstall-entry"
  FileAssociationTest         "velmorix-file-association"
  ShortcutsTest               "velmorix-shortcuts"
  InstallWorkerTest           "velmorix-uninstall-entry,velmorix-file-association,velmorix-run-journal"  # install mode registers
  UnattendedRun               "velmorix-uninstall-entry,velmorix-file-association,velmorix-run-journal"
  ArchiveExtraction           "velmorix-drive-t,velmorix-run-journal"
  RunOutcome                  "velmorix-run-journal"
  RunCrash                    "velmorix-run-journal"
  RegistryAccessTest          "none"
  AppendWidePathTest          "none"
  WideToAnsiTest              "none"
  InstallerTexts              "none"
  InstallerResources          "none"
  RunLog                      "none"  # its own temporary folders; reads the build's link fixtures
  HeldFolder                  "none"
  Pages/DialogTemplate        "none"
)

foreach(velmorix_test IN LISTS velmorix_windows_tests_TESTS velmorix_e2e_tests_TESTS
    velmorix_e2e_tests_compressed_TESTS)
  string(REGEX MATCH "^[^.]+" velmorix_suite "${velmorix_test}")
  list(FIND velmorix_suite_locks "${velmorix_suite}" velmorix_at)
  set(velmorix_locks ${velmorix_all_locks})
  if(velmorix_at GREATER_EQUAL 0)
    math(EXPR velmorix_at "${velmorix_at} + 1")
    list(GET velmorix_suite_locks ${velmorix_at} velmorix_named)
    if(velmorix_named STREQUAL "none")
      set(velmorix_locks "")
    elseif(NOT velmorix_named STREQUAL "all")
      string(REPLACE "," ";" velmorix_locks "${velmorix_named}")
    endif()
  endif()
  if(velmorix_locks)
    set_tests_properties("${velmorix_test}" PROPERTIES RESOURCE_LOCK "${velmorix_locks}")
  endif()
endforeach()
