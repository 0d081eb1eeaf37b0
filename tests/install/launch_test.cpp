#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "install/launch.h"
#include "tests/support/expect_error.h"
#include "tests/support/files.h"
#include "tests/support/programs.h"
#include "tests/support/temp_folder.h"
#include "text/utf.h"

namespace fs = std::filesystem;

namespace {

constexpr char kNotFound[] = "Исполняемый файл не найден. Укажите путь в настройках.";

struct StartRecord {
    std::string commandLine;
    std::string workingFolder;
    unsigned long flags = 0;
    unsigned showWindow = 0;
    bool consoleWindow = true;
};

// Runs the recording stand-in through launch_process and reads back what it saw.
StartRecord start_and_record(const fs::path& executable, const std::wstring& arguments, bool hidden) {
    const common::UniqueKernelHandle process = install::launch_process(executable, arguments, hidden);
    EXPECT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    EXPECT_TRUE(GetExitCodeProcess(process.get(), &exitCode));
    EXPECT_EQ(exitCode, 0u);
    std::istringstream lines(test::read_file(executable.parent_path() / "launch-record.txt"));
    StartRecord record;
    std::getline(lines, record.commandLine);
    std::getline(lines, record.workingFolder);
    lines >> record.flags >> record.showWindow >> record.consoleWindow;
    return record;
}

TEST(LaunchProcess, QuotedCommandLineInTheExecutablesFolder) {
    test::TempFolder temp;
    const fs::path executable = temp / "Игры" / "Korvane Launcher" / "KORLAUNCHER.exe";
    fs::create_directories(executable.parent_path());
    fs::copy_file(test::sibling_program("launch_probe.exe"), executable);
    std::string quoted(1, '"');
    quoted.append(text::utf8_from_wide(executable.native())).append("\" ");

    const StartRecord plain = start_and_record(executable, L"", false);
    EXPECT_EQ(plain.commandLine, quoted);  // ends in the blank after the closing quote
    EXPECT_EQ(plain.workingFolder, text::utf8_from_wide(executable.parent_path().native()));
    EXPECT_EQ(plain.flags & STARTF_USESHOWWINDOW, 0u);

    const StartRecord hidden = start_and_record(executable, L"--profile \"Мой профиль\"", true);
    EXPECT_EQ(hidden.commandLine, quoted + "--profile \"Мой профиль\"");
    EXPECT_EQ(hidden.workingFolder, text::utf8_from_wide(executable.parent_path().native()));
    EXPECT_NE(hidden.flags & STARTF_USESHOWWINDOW, 0u);
    EXPECT_EQ(hidden.showWindow, static_cast<unsigned>(SW_HIDE));
    EXPECT_FALSE(hidden.consoleWindow);
}

TEST(LaunchProcess, AnythingButARegularFileIsNotFound) {
    test::TempFolder temp;
    fs::create_directories(temp / "Folder" / "KORLAUNCHER.exe");
    for (const fs::path& executable : {temp / "Folder" / "KORLAUNCHER.exe", temp / "Missing" / "KORLAUNCHER.exe"}) {
        SCOPED_TRACE(executable.string());
        test::expect_error([&] { install::launch_process(executable, L"", false); }, kNotFound);
    }
}

TEST(LaunchProcess, FileWindowsCannotStartIsReported) {
    test::TempFolder temp;
    test::write_file(temp / "KORLAUNCHER.exe", "not a program");
    test::expect_error([&] { install::launch_process(temp / "KORLAUNCHER.exe", L"", false); },
                       "Windows не смог запустить приложение");
}

}  // namespace
