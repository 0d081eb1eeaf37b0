#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <stdexcept>

namespace install {

// Puts the extracted package (payload) into the install folder and then creates the shortcuts.
// A missing install folder is filled by moving the whole package folder into place; an empty folder
// or an installed launcher gets the package through a backup of every file it overwrites, copies
// staged inside the install folder and one atomic replace per file, the launcher's executable last.
// Any failure up to and including the shortcuts puts the install folder back as it was; when that
// cannot be done completely, the error names the backup folder. Runs on the install task's thread
// (a single-threaded COM apartment); writes `progress` and `state`, polls `cancel`.
void place_package_files(const std::filesystem::path& payload, const std::filesystem::path& installDir,
                         const std::filesystem::path& desktopDir, const std::filesystem::path& programsDir,
                         const std::filesystem::path& backup, std::atomic<float>* progress, std::atomic<bool>* cancel,
                         std::atomic<int32_t>* state);

// The undo after a failed placement could not restore everything: the message names the backup
// folder, which therefore has to stay.
class PlacementNotRestored : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Replace-existing, write-through move of a file or folder on one volume. A running launcher may
// still hold the destination open, so access, sharing and lock violations are retried for about
// five seconds; then, or at once for any other error, throws "Не удалось заменить <name>
// (Windows <code>). Закройте лаунчер и повторите попытку.". Between attempts a set `cancel` (may
// be null; an undo passes none, it must finish) ends the wait with "Установка отменена".
void replace_path_with_retry(const std::filesystem::path& from, const std::filesystem::path& to,
                             const std::atomic<bool>* cancel = nullptr);

// Ordering for a stable sort of relative paths: the top-level "KORLAUNCHER.exe" goes after every
// other file, so an interrupted update never leaves a new executable beside old files.
bool launcher_last(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace install
