#pragma once

// The names the launcher's installation goes by on disk. The window, the placement, the shortcuts,
// the cleanup and the package rules must agree on every one of them: a folder the cleanup does not
// recognise as ours stays behind, and a package whose executable is spelt differently installs
// nothing a shortcut can start.
namespace common {

inline constexpr wchar_t kLauncherExecutable[] = L"KORLAUNCHER.exe";
inline constexpr char kLauncherExecutableUtf8[] = "KORLAUNCHER.exe";
// The install folder's default last component, and the shortcuts' name and description.
inline constexpr wchar_t kLauncherName[] = L"Korvane Launcher";
inline constexpr wchar_t kShortcutName[] = L"Korvane Launcher.lnk";
// Shortcuts on their way into a folder: this prefix, random digits, ".lnk" or ".bak".
inline constexpr wchar_t kShortcutTempPrefix[] = L".Korvane-Launcher-";
// Staging folders beside and inside the install folder: this prefix and 24 lowercase hex digits.
inline constexpr wchar_t kStagingPrefix[] = L".korvane-install-";

}  // namespace common
