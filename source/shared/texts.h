// Every fixed text of the installer, in one place. The sources are UTF-8; the
// Windows build stores them in code page 1251 (-fexec-charset=CP1251), which is
// what every ANSI call of the installer expects.
#pragma once

namespace texts {

// Product and maker.
extern const char kProductTitle[];        // shown in the list of installed programs
extern const char kPublisher[];
extern const char kVersion[];
extern const char kMainWindowClass[];
extern const char kWindowTitle[];

// Path tails, each beginning with a backslash.
extern const char kFolderSuffix[];        // \Tarkweller\Velmorix
extern const char kTempFolderSuffix[];    // \Tarkweller\Velmorix_Temp
extern const char kWorkpathTail[];        // \workpath
extern const char kProgramExeTail[];      // \Velmorix.exe
extern const char kUninstallExeTail[];    // \Uninstall.exe
extern const char kUninstallKeyPath[];    // under HKEY_LOCAL_MACHINE
extern const char kInstallLocationValue[];

// Captions and buttons.
extern const char kErrorCaption[];
extern const char kUninstallLaunchCaption[];
extern const char kProgramLaunchCaption[];
extern const char kCancelQuestion[];
extern const char kCancelQuestionCaption[];
extern const char kFinishButton[];
extern const char kCloseButton[];
extern const char kBrowseTitle[];

// English texts.
extern const char kLaunchFileNotFound[];
extern const char kLaunchPathNotFound[];
extern const char kLaunchBadExe[];
extern const char kLaunchOutOfResources[];
extern const char kBrowseFailed[];

// Failures of the user-interface thread.
extern const char kWorkerThreadFailed[];
extern const char kFolderPathUnknown[];
extern const char kFolderAccessDenied[];
extern const char kFolderCreateFailed[];
extern const char kFolderThroughLink[];   // the chosen folder is, or lies behind, a link or mount point

// Failures of a run (shown for their causes: shared/failure_texts.h).
extern const char kResourceMissing[];
extern const char kResourceLoadFailed[];
extern const char kInstallFoldersFailed[];
extern const char kInstallFilesFailed[];
extern const char kInstallFilesWriteFailed[];
extern const char kCancelledByUser[];
extern const char kComInitFailed[];
extern const char kDesktopPathFailed[];
extern const char kDesktopShortcutFailed[];
// The Start-menu shortcut's failures; they speak of the quick-launch panel, as the
// settings page's check box does.
extern const char kStartMenuPathFailed[];
extern const char kStartMenuShortcutFailed[];
extern const char kRegistryKeyFailed[];
extern const char kUninstallValuesFailed[];
extern const char kAssociationValuesFailed[];

// The command line (see command_line.h): its usage, and what is wrong with it.
extern const char kUsage[];
extern const char kInvalidCommandLine[];
extern const char kLogOpenFailed[];
extern const char kAnotherRunActive[];     // another installer holds the run lock

// The uninstaller.
extern const char kUninstallTitle[];
extern const char kUninstallSummary[];       // followed by the install folder
extern const char kUninstallWorkSummary[];   // followed by the work folder
extern const char kUninstallDone[];
extern const char kUninstallRestartNeeded[];
extern const char kUninstallFailed[];
extern const char kUninstallNothingFound[];
extern const char kUninstallUsage[];
extern const char kUninstallCancelled[];

// File-type association data.
extern const char kPackageContentType[];

}  // namespace texts
