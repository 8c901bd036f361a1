#include "shared/texts.h"

#include "velmorix_version.h"

namespace texts {

const char kProductTitle[] = "Тривеллон";
const char kPublisher[] = "Tarkweller";
const char kVersion[] = VELMORIX_VERSION_TEXT;
const char kMainWindowClass[] = "Installer for Velmorix";
const char kWindowTitle[] = "Установка приложения Velmorix";

const char kFolderSuffix[] = "\\Tarkweller\\Velmorix";
const char kTempFolderSuffix[] = "\\Tarkweller\\Velmorix_Temp";
const char kWorkpathTail[] = "\\workpath";
const char kProgramExeTail[] = "\\Velmorix.exe";
const char kUninstallExeTail[] = "\\Uninstall.exe";
const char kUninstallKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmorix";
const char kInstallLocationValue[] = "InstallLocation";

const char kErrorCaption[] = "Ошибка";
const char kUninstallLaunchCaption[] = "Не удалось запустить Uninstall.exe";
const char kProgramLaunchCaption[] = "Не удалось запустить Velmorix.exe";
const char kCancelQuestion[] = "Вы действительно хотите отменить распаковку?";
const char kCancelQuestionCaption[] = "Установка Velmorix";
const char kFinishButton[] = "Готово";
const char kCloseButton[] = "Закрыть";
const char kBrowseTitle[] = "Укажите директорию для установки";

const char kLaunchFileNotFound[] = "The specified file was not found.";
const char kLaunchPathNotFound[] = "The specified path was not found.";
const char kLaunchBadExe[] = "The .exe file is invalid.";
const char kLaunchOutOfResources[] = "The system is out of memory or resources.";
const char kBrowseFailed[] = "Error opening browse window";

const char kWorkerThreadFailed[] = "Невозможно создать рабочий поток";
const char kFolderPathUnknown[] = "Невозможно создать указанную директорию, неизвестный путь";
const char kFolderAccessDenied[] = "Невозможно создать указанную директорию, нет прав";
const char kFolderCreateFailed[] = "Невозможно создать указанную директорию";
const char kFolderThroughLink[] = "Невозможно использовать указанную директорию, это ссылка или точка подключения";

const char kResourceMissing[] =
    "Отстутствует файл ресурсов, загрузите установщик заного или обратитесь волком";
const char kResourceLoadFailed[] = "Невозможно подгрузить файл ресурсов";
const char kInstallFoldersFailed[] = "Невозможно создать директори(ю/и) установки, возможно нет прав";
const char kInstallFilesFailed[] = "Невозможно создать файл(ы) установки, возможно нет прав";
const char kInstallFilesWriteFailed[] =
    "Невозможно записать файл(ы) установки, возможно недостаточно места на диске";
const char kCancelledByUser[] = "Установка отменена пользователем";
const char kComInitFailed[] = "Невозможно инициализировать com объект";
const char kDesktopPathFailed[] = "Невозможно определить путь до рабочего стола";
const char kDesktopShortcutFailed[] = "Невозможно создать ярлык на рабочем столе";
const char kStartMenuPathFailed[] = "Невозможно определить путь до панели быстрого запуска";
const char kStartMenuShortcutFailed[] = "Невозможно создать ярлык на панели быстрого запуска";
const char kRegistryKeyFailed[] = "Невозможно создать(открыть) ветвь в реестре";
const char kUninstallValuesFailed[] =
    "Невозможно создать записи  в реестре для корректной работы деинсталлятора";
const char kAssociationValuesFailed[] = "Невозможно создать записи файлов ассоциаций в реестре";

const char kUsage[] =
    "Использование:\n"
    "VelmorixSetup.exe [/LOG=<файл>]\n"
    "    мастер установки\n"
    "VelmorixSetup.exe /S [/D=<папка установки>] [/WORKDIR=<рабочая папка>] [/NODESKTOP] [/NOSTARTMENU] "
    "[/LOG=<файл>]\n"
    "    установка без окон и вопросов\n"
    "\n"
    "/D, /WORKDIR - полный путь к папке; без них - папки по умолчанию\n"
    "/NODESKTOP - без ярлыка на рабочем столе\n"
    "/NOSTARTMENU - без ярлыка в меню \"Пуск\"\n"
    "/LOG - журнал установки в UTF-8, дописывается в конец файла\n"
    "/? - эта справка\n"
    "\n"
    "Код завершения: 0 - установлено, 1 - ошибка установки, 2 - неверная командная строка";
const char kInvalidCommandLine[] = "Неверная командная строка";
const char kLogOpenFailed[] = "Невозможно открыть файл журнала";
const char kAnotherRunActive[] = "Уже идет другая установка, повторите попытку позже";

const char kPackageContentType[] = "пакет/velmorix package";

// The uninstaller.
const char kUninstallTitle[] = "Удаление приложения Velmorix";
const char kUninstallSummary[] = "Программа 'Тривеллон' будет удалена с этого компьютера из папки:\n";
const char kUninstallWorkSummary[] = "\nИзмененные данные рабочей папки будут сохранены:\n";
const char kUninstallDone[] = "Программа 'Тривеллон' удалена с этого компьютера";
const char kUninstallRestartNeeded[] = "Удаление будет завершено после перезагрузки компьютера";
const char kUninstallFailed[] = "Невозможно удалить программу, все файлы восстановлены";
const char kUninstallNothingFound[] = "Установленная программа 'Тривеллон' не найдена";
const char kUninstallUsage[] = "Uninstall.exe [/S] [/REMOVEDATA] [/LOG=<файл>]";
const char kUninstallCancelled[] = "Удаление отменено, все файлы восстановлены";

}  // namespace texts
