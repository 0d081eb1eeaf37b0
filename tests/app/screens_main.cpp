// The installer window driven by a script instead of the install engine, for screenshots: the real
// window, screens and resources, with a task body that follows commands that the screenshot script
// writes into a control folder (KORVANE_SCREENS_DIR):
//   "step"    one command, taken and deleted by the task, which answers with the file "ack":
//             "state S P DONE TOTAL"  publish state S, step progress P and the byte counters
//             "finish VERSION"        return the version (the Done screen)
//             "fail MESSAGE"          throw the message (the error screen, or Idle after a cancel)
//   "started" written by each task when it starts.
// Launching the installed launcher fails with a message, as it would without an installation.
// With the argument --geometry it prints the canvas size and the window's hit-test rectangles as JSON
// and exits: the Python test tooling clicks and probes them instead of keeping a copy of its own.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "app/install_task.h"
#include "app/window.h"
#include "app/window_proc.h"
#include "common/com_apartment.h"
#include "render/ui_rect.h"

namespace {

std::filesystem::path control_folder() {
    const wchar_t* folder = _wgetenv(L"KORVANE_SCREENS_DIR");
    if (folder == nullptr) {
        throw std::runtime_error("KORVANE_SCREENS_DIR is not set");
    }
    return folder;
}

void write_text(const std::filesystem::path& file, const std::string& text) {
    const auto partial = std::filesystem::path(file).concat(L".part");
    std::ofstream(partial, std::ios::binary) << text;
    std::filesystem::rename(partial, file);
}

// The next command, waiting for it as long as the script takes.
std::string next_command(const std::filesystem::path& folder) {
    const auto step = folder / L"step";
    for (;;) {
        std::ifstream in(step, std::ios::binary);
        if (in) {
            std::string command((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            in.close();
            std::filesystem::remove(step);
            return command;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

namespace installer {

std::string InstallTaskBody::operator()() const {
    const auto folder = control_folder();
    write_text(folder / L"started", "started");
    for (int count = 1;; ++count) {
        const std::string command = next_command(folder);
        std::istringstream words(command);
        std::string verb;
        words >> verb;
        std::string rest;
        std::getline(words >> std::ws, rest);
        if (verb == "finish") {
            return rest;
        }
        if (verb == "fail") {
            throw std::runtime_error(rest);
        }
        if (verb == "state") {
            int32_t state = 0;
            float progress = 0;
            uint64_t done = 0;
            uint64_t total = 0;
            std::istringstream(rest) >> state >> progress >> done >> total;
            window->bytesTotal.exchange(total);
            window->bytesDone.exchange(done);
            window->stepProgress.exchange(progress);
            window->state.exchange(state);
        }
        write_text(folder / L"ack", std::to_string(count));
    }
}

void start_installed_launcher(const std::filesystem::path&) {
    throw std::runtime_error("Исполняемый файл не найден. Укажите путь в настройках.");
}

}  // namespace installer

namespace {

std::string rect_json(const installer::UiRect& rect) {
    std::ostringstream out;
    out << '[' << rect.x << ", " << rect.y << ", " << rect.width << ", " << rect.height << ']';
    return out.str();
}

// The canvas and the rectangles as the program hit-tests them: the window object's own fields, built
// as the installer builds it (its constructor makes the imaging factory, a COM object).
int print_geometry(HINSTANCE instance) {
    const common::ComApartment apartment;
    const installer::Window window(instance);
    std::ostringstream json;
    json << "{\"canvas\": [" << installer::kCanvasWidth << ", " << installer::kCanvasHeight << "]"
         << ", \"primaryButton\": " << rect_json(window.primaryButton)
         << ", \"secondaryButton\": " << rect_json(window.secondaryButton)
         << ", \"changeButton\": " << rect_json(window.changeButton)
         << ", \"closeButton\": " << rect_json(window.closeButton)
         << ", \"launchButton\": " << rect_json(installer::kLaunchButton)
         << ", \"failedChangeButton\": " << rect_json(installer::kFailedChangeButton) << "}\n";
    std::fputs(json.str().c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
    if (std::wstring_view(commandLine) == L"--geometry") {
        return print_geometry(instance);
    }
    return installer::run_installer(instance, showCommand);
}
