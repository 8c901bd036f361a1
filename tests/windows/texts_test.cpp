// The fixed texts as the ANSI calls receive them: code page 1251 bytes, whatever the
// encoding of the sources.
#include "shared/texts.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

struct TextCase {
  const char* name;
  const char* ansi;
  const wchar_t* expected;  // wide literals are UTF-16 whatever the narrow charset
};

std::string InCodePage1251(const wchar_t* text) {
  const int size = WideCharToMultiByte(1251, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(1251, 0, text, -1, &bytes[0], size, nullptr, nullptr);
  bytes.resize(bytes.size() - 1);
  return bytes;
}

TEST(InstallerTexts, EveryTextIsStoredInCodePage1251) {
  const TextCase cases[] = {
      {"kProductTitle", texts::kProductTitle, L"Тривеллон"},
      {"kPublisher", texts::kPublisher, L"Tarkweller"},
      {"kVersion", texts::kVersion, L"1.0.0.1"},
      {"kMainWindowClass", texts::kMainWindowClass, L"Installer for Velmorix"},
      {"kWindowTitle", texts::kWindowTitle, L"Установка приложения Velmorix"},
      {"kFolderSuffix", texts::kFolderSuffix, L"\\Tarkweller\\Velmorix"},
      {"kTempFolderSuffix", texts::kTempFolderSuffix, L"\\Tarkweller\\Velmorix_Temp"},
      {"kWorkpathTail", texts::kWorkpathTail, L"\\workpath"},
      {"kProgramExeTail", texts::kProgramExeTail, L"\\Velmorix.exe"},
      {"kUninstallExeTail", texts::kUninstallExeTail, L"\\Uninstall.exe"},
      {"kUninstallKeyPath", texts::kUninstallKeyPath, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmorix"},
      {"kInstallLocationValue", texts::kInstallLocationValue, L"InstallLocation"},
      {"kErrorCaption", texts::kErrorCaption, L"Ошибка"},
      {"kUninstallLaunchCaption", texts::kUninstallLaunchCaption, L"Не удалось запустить Uninstall.exe"},
      {"kProgramLaunchCaption", texts::kProgramLaunchCaption, L"Не удалось запустить Velmorix.exe"},
      {"kCancelQuestion", texts::kCancelQuestion, L"Вы действительно хотите отменить распаковку?"},
      {"kCancelQuestionCaption", texts::kCancelQuestionCaption, L"Установка Velmorix"},
      {"kFinishButton", texts::kFinishButton, L"Готово"},
      {"kCloseButton", texts::kCloseButton, L"Закрыть"},
      {"kBrowseTitle", texts::kBrowseTitle, L"Укажите директорию для установки"},
      {"kLaunchFileNotFound", texts::kLaunchFileNotFound, L"The specified file was not found."},
      {"kLaunchPathNotFound", texts::kLaunchPathNotFound, L"The specified path was not found."},
      {"kLaunchBadExe", texts::kLaunchBadExe, L"The .exe file is invalid."},
      {"kLaunchOutOfResources", texts::kLaunchOutOfResources, L"The system is out of memory or resources."},
      {"kBrowseFailed", texts::kBrowseFailed, L"Error opening browse window"},
      {"kWorkerThreadFailed", texts::kWorkerThreadFailed, L"Невозможно создать рабочий поток"},
      {"kFolderPathUnknown", texts::kFolderPathUnknown, L"Невозможно создать указанную директорию, неизвестный путь"},
      {"kFolderAccessDenied", texts::kFolderAccessDenied, L"Невозможно создать указанную директорию, нет прав"},
      {"kFolderCreateFailed", texts::kFolderCreateFailed, L"Невозможно создать указанную директорию"},
      {"kFolderThroughLink", texts::kFolderThroughLink, L"Невозможно использовать указанную директорию, это ссылка или точка подключения"},
      {"kResourceMissing", texts::kResourceMissing, L"Отстутствует файл ресурсов, загрузите установщик заного или обратитесь волком"},
      {"kResourceLoadFailed", texts::kResourceLoadFailed, L"Невозможно подгрузить файл ресурсов"},
      {"kInstallFoldersFailed", texts::kInstallFoldersFailed, L"Невозможно создать директори(ю/и) установки, возможно нет прав"},
      {"kInstallFilesFailed", texts::kInstallFilesFailed, L"Невозможно создать файл(ы) установки, возможно нет прав"},
      {"kInstallFilesWriteFailed", texts::kInstallFilesWriteFailed, L"Невозможно записать файл(ы) установки, возможно недостаточно места на диске"},
      {"kCancelledByUser", texts::kCancelledByUser, L"Установка отменена пользователем"},
      {"kComInitFailed", texts::kComInitFailed, L"Невозможно инициализировать com объект"},
      {"kDesktopPathFailed", texts::kDesktopPathFailed, L"Невозможно определить путь до рабочего стола"},
      {"kDesktopShortcutFailed", texts::kDesktopShortcutFailed, L"Невозможно создать ярлык на рабочем столе"},
      {"kStartMenuPathFailed", texts::kStartMenuPathFailed, L"Невозможно определить путь до панели быстрого запуска"},
      {"kStartMenuShortcutFailed", texts::kStartMenuShortcutFailed, L"Невозможно создать ярлык на панели быстрого запуска"},
      {"kRegistryKeyFailed", texts::kRegistryKeyFailed, L"Невозможно создать(открыть) ветвь в реестре"},
      {"kUninstallValuesFailed", texts::kUninstallValuesFailed, L"Невозможно создать записи  в реестре для корректной работы деинсталлятора"},
      {"kAssociationValuesFailed", texts::kAssociationValuesFailed, L"Невозможно создать записи файлов ассоциаций в реестре"},
      {"kPackageContentType", texts::kPackageContentType, L"пакет/velmorix package"},
      {"kInvalidCommandLine", texts::kInvalidCommandLine, L"Неверная командная строка"},
      {"kLogOpenFailed", texts::kLogOpenFailed, L"Невозможно открыть файл журнала"},
      {"kUsage", texts::kUsage,
       L"Использование:\nVelmorixSetup.exe [/LOG=<файл>]\n    мастер установки\n"
       L"VelmorixSetup.exe /S [/D=<папка установки>] [/WORKDIR=<рабочая папка>] [/NODESKTOP] [/NOSTARTMENU] "
       L"[/LOG=<файл>]\n    установка без окон и вопросов\n\n"
       L"/D, /WORKDIR - полный путь к папке; без них - папки по умолчанию\n"
       L"/NODESKTOP - без ярлыка на рабочем столе\n/NOSTARTMENU - без ярлыка в меню \"Пуск\"\n"
       L"/LOG - журнал установки в UTF-8, дописывается в конец файла\n/? - эта справка\n\n"
       L"Код завершения: 0 - установлено, 1 - ошибка установки, 2 - неверная командная строка"},
  };
  for (const TextCase& text : cases) EXPECT_EQ(text.ansi, InCodePage1251(text.expected)) << text.name;
}

// The sources are UTF-8; the build must turn the texts into code page 1251 bytes,
// which is what the ANSI calls under a Russian system code page expect.
TEST(InstallerTexts, RussianTextsArriveAsTheseBytes) {
  EXPECT_EQ(GetACP(), 1251u) << "the test environment must run with a Russian locale";
  EXPECT_STREQ(texts::kProductTitle, "\xD2\xF0\xE8\xE2\xE5\xEB\xEB\xEE\xED");
  EXPECT_STREQ(texts::kWindowTitle,
               "\xD3\xF1\xF2\xE0\xED\xEE\xE2\xEA\xE0 \xEF\xF0\xE8\xEB\xEE\xE6\xE5\xED\xE8\xFF Velmorix");
  EXPECT_STREQ(texts::kResourceMissing,
               "\xCE\xF2\xF1\xF2\xF3\xF2\xF1\xF2\xE2\xF3\xE5\xF2 \xF4\xE0\xE9\xEB \xF0\xE5\xF1\xF3\xF0\xF1\xEE\xE2, "
               "\xE7\xE0\xE3\xF0\xF3\xE7\xE8\xF2\xE5 \xF3\xF1\xF2\xE0\xED\xEE\xE2\xF9\xE8\xEA \xE7\xE0\xED\xEE\xE3\xEE "
               "\xE8\xEB\xE8 \xEE\xE1\xF0\xE0\xF2\xE8\xF2\xE5\xF1\xFC \xE2\xEE\xEB\xEA\xEE\xEC");
  // Two spaces before the preposition.
  EXPECT_STREQ(texts::kUninstallValuesFailed,
               "\xCD\xE5\xE2\xEE\xE7\xEC\xEE\xE6\xED\xEE \xF1\xEE\xE7\xE4\xE0\xF2\xFC \xE7\xE0\xEF\xE8\xF1\xE8  \xE2 "
               "\xF0\xE5\xE5\xF1\xF2\xF0\xE5 \xE4\xEB\xFF \xEA\xEE\xF0\xF0\xE5\xEA\xF2\xED\xEE\xE9 \xF0\xE0\xE1\xEE\xF2\xFB "
               "\xE4\xE5\xE8\xED\xF1\xF2\xE0\xEB\xEB\xFF\xF2\xEE\xF0\xE0");
  EXPECT_STREQ(texts::kCancelQuestion,
               "\xC2\xFB \xE4\xE5\xE9\xF1\xF2\xE2\xE8\xF2\xE5\xEB\xFC\xED\xEE \xF5\xEE\xF2\xE8\xF2\xE5 "
               "\xEE\xF2\xEC\xE5\xED\xE8\xF2\xFC \xF0\xE0\xF1\xEF\xE0\xEA\xEE\xE2\xEA\xF3?");
}

}  // namespace
