#pragma once

// The fixed texts of the screens, shared by the drawing and by what screen readers are told, so the
// two cannot say different things.
namespace installer::texts {

inline constexpr wchar_t kStartHeading[] = L"Установить\nKorvane Launcher";
inline constexpr wchar_t kFolderLabel[] = L"ПАПКА УСТАНОВКИ";
inline constexpr wchar_t kChange[] = L"Изменить";
inline constexpr wchar_t kShortcutsFeature[] = L"Ярлыки на рабочем столе и в меню «Пуск»";
inline constexpr wchar_t kSystemFooter[] = L"Windows 10 / 11 · 64 бит";
inline constexpr wchar_t kInstall[] = L"Установить лаунчер";

inline constexpr wchar_t kStepDownload[] = L"Скачать файлы";
inline constexpr wchar_t kStepInstall[] = L"Установить лаунчер";
inline constexpr wchar_t kStepShortcuts[] = L"Создать ярлыки";
inline constexpr wchar_t kCancel[] = L"Отменить установку";
inline constexpr wchar_t kCancelling[] = L"Отмена...";
inline constexpr wchar_t kUserFooter[] = L"Установка для текущего пользователя";

inline constexpr wchar_t kDoneHeading[] = L"Всё готово.\nПриятной поездки!";
inline constexpr wchar_t kDoneText[] =
    L"Ярлыки созданы на рабочем столе и в меню «Пуск».\n"
    L"Твоя коллекция начинается с первого запуска.";
inline constexpr wchar_t kLaunch[] = L"Запустить лаунчер";
inline constexpr wchar_t kClose[] = L"Закрыть";
inline constexpr wchar_t kVersionPrefix[] = L"Korvane Launcher · ";

inline constexpr wchar_t kFailedHeading[] = L"Не получилось\nзавершить установку.";
inline constexpr wchar_t kChangeFolder[] = L"Изменить папку";
inline constexpr wchar_t kRetry[] = L"Повторить";
inline constexpr wchar_t kFailedFooter[] = L"Проверь подключение и доступ к папке установки.";

}  // namespace installer::texts
