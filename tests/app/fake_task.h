#pragma once

#include <chrono>
#include <filesystem>
#include <string>

// The test programs' definition of the install task body: instead of installing, it records what it
// was given and waits for the test to decide how it ends. One task runs at a time.
namespace fake_task {

struct Ending {
    std::string version;  // returned when error is empty
    std::string error;    // thrown as std::runtime_error when not empty
    // thrown as the placement's "files not restored" failure instead, even after a cancel
    bool restoreIncomplete = false;
};

// Prepares the next run(s): they end as `ending` once released.
void reset(Ending ending);
// Makes the next run(s) end by throwing something that is not a std::exception.
void end_with_foreign_exception();
// Lets the waiting body end.
void release();
// Makes a waiting body end by itself once the window's cancelRequested is set, with the worker's
// cancellation message (the real worker polls the flag the same way), or with the ending's error
// when that is an incomplete restore (the worker's undo after a cancel can fail like any other).
void end_on_cancel();
// Waits (bounded) until a body has started; false if none started within the time.
bool wait_started(std::chrono::milliseconds timeout = std::chrono::seconds(10));
int runs();
// Bodies that have returned or thrown.
int finished();
std::filesystem::path last_install_dir();

// The launch of the installed launcher: records the executable and throws `error` when not empty.
void set_launch_error(std::string error);
std::filesystem::path last_launched();

}  // namespace fake_task
