/* Resource and control identifiers, shared by installer.rc and the code.
   Plain #defines only: the resource compiler reads this file too. */
#ifndef VELMORIX_RESOURCE_IDS_H
#define VELMORIX_RESOURCE_IDS_H

#define IDI_INSTALLER 1

/* Payload archives, resources of type "Binary", and the CRC-32 of each (8 bytes). */
#define IDR_PROGRAM_ARCHIVE 109
#define IDR_WORK_ARCHIVE 110
#define IDR_PAYLOAD_CHECKSUMS 111

/* Mode page. */
#define IDD_MODE_PAGE 102
#define IDC_MODE_NEXT 1032
#define IDC_MODE_CANCEL 1031
#define IDC_MODE_INSTALL 1003
#define IDC_MODE_RUN 1004
#define IDC_MODE_REPAIR 1005
#define IDC_MODE_REMOVE 1007
#define IDC_MODE_GREETING 1006
#define IDC_MODE_FRAME 1011

/* Settings page. */
#define IDD_SETTINGS_PAGE 106
#define IDC_SETTINGS_NEXT 1030
#define IDC_SETTINGS_CANCEL 1029
#define IDC_SETTINGS_HEADING 1017
#define IDC_SETTINGS_FRAME 1018
#define IDC_SETTINGS_INSTALL_LABEL 1016
#define IDC_SETTINGS_INSTALL_BROWSE 1014
#define IDC_SETTINGS_INSTALL_EDIT 1015
#define IDC_SETTINGS_DESKTOP 1019
#define IDC_SETTINGS_START_MENU 1020
#define IDC_SETTINGS_BACK 3
#define IDC_SETTINGS_WORK_LABEL 1021
#define IDC_SETTINGS_WORK_BROWSE 1022
#define IDC_SETTINGS_WORK_EDIT 1023

/* Progress page. */
#define IDD_PROGRESS_PAGE 107
#define IDC_PROGRESS_BUTTON 1028
#define IDC_PROGRESS_HEADING 1023
#define IDC_PROGRESS_FILES_LABEL 1024
#define IDC_PROGRESS_FRAME 1026
#define IDC_PROGRESS_CURRENT_FILE 1025
#define IDC_PROGRESS_OVERALL 1021
#define IDC_PROGRESS_RUN_PROGRAM 1022
#define IDC_PROGRESS_FILE 1027

/* The uninstaller's dialog: the summary with the data check box, then the progress,
   then the result. */
#define IDD_UNINSTALL_DIALOG 120
#define IDC_UNINSTALL_HEADING 1101
#define IDC_UNINSTALL_SUMMARY 1102
#define IDC_UNINSTALL_REMOVE_DATA 1103
#define IDC_UNINSTALL_CURRENT_FILE 1104
#define IDC_UNINSTALL_PROGRESS 1105
#define IDC_UNINSTALL_REMOVE 1106
#define IDC_UNINSTALL_CANCEL 1107
#define IDC_UNINSTALL_FRAME 1108
#define ID_REMOVAL_DONE 121

/* Commands the progress page receives without a control. */
#define ID_START_WORKER 112
#define ID_WORKER_DONE 116

#endif
