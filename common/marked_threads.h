#pragma once

#include <windows.h>

#include <cstdint>

#include "common/unique_handle.h"

// Which CPU of the process is the install's and which is the window's. A frame is drawn only partly
// on the window thread: under a software renderer (Wine's Direct2D on Mesa) most of it runs on the
// renderer's own threads, which the program cannot name. So the window prices its frames by the CPU
// of the whole process less that of the threads that do the install's work, which mark themselves
// here for as long as they run (the install task, the download's writer, the root store warm-up).
// Only CPU times pass through here, never the install's data: the window and the task still share
// nothing else but the five atomics. The mark also names the thread for a profiler or a benchmark
// (Wine hands the name on to the Linux thread).
namespace common {

// Marks the calling thread as the install's for the lifetime of the object, named `name` unless it
// is null; made and destroyed on that thread.
class MarkedThread {
public:
    explicit MarkedThread(const wchar_t* name = nullptr);
    ~MarkedThread();
    MarkedThread(const MarkedThread&) = delete;
    MarkedThread& operator=(const MarkedThread&) = delete;

private:
    UniqueKernelHandle handle_;
};

// CPU nanoseconds the process has spent so far outside the marked threads: the window thread, the
// renderer's threads and the system's helpers.
int64_t cpu_outside_marked_threads();

}  // namespace common
