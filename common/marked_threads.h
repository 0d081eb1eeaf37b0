#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <vector>

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

namespace marked_threads_detail {

inline int64_t cpu_of(const FILETIME& kernel, const FILETIME& user) {
    const auto value = [](const FILETIME& time) {
        return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    };
    return (value(kernel) + value(user)) * 100;  // 100 ns units to nanoseconds
}

inline int64_t thread_cpu(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return cpu_of(kernel, user);
}

// The marked threads that still run, and the CPU of those that have ended (it stays in the
// process's total). Held only for a few system calls; the install's threads take it twice each.
struct Registry {
    std::mutex mutex;
    std::vector<HANDLE> running;
    int64_t endedCpu = 0;
};

inline Registry& registry() {
    static Registry instance;
    return instance;
}

// SetThreadDescription is looked up at run time: the MinGW headers do not declare it.
inline void name_thread(const wchar_t* name) {
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto set = kernel == nullptr ? nullptr
                                       : reinterpret_cast<SetDescription>(reinterpret_cast<void*>(
                                             ::GetProcAddress(kernel, "SetThreadDescription")));
    if (set != nullptr) {
        set(::GetCurrentThread(), name);
    }
}

}  // namespace marked_threads_detail

// Marks the calling thread as the install's for the lifetime of the object; made and destroyed on
// that thread.
class MarkedThread {
public:
    explicit MarkedThread(const wchar_t* name) {
        marked_threads_detail::name_thread(name);
        HANDLE self = nullptr;
        if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &self,
                               THREAD_QUERY_LIMITED_INFORMATION, FALSE, 0)) {
            return;  // the thread's CPU then counts as the window's: frames are paced more sparingly
        }
        handle_.reset(self);
        auto& registry = marked_threads_detail::registry();
        const std::lock_guard lock(registry.mutex);
        registry.running.push_back(self);
    }
    ~MarkedThread() {
        if (!handle_) {
            return;
        }
        auto& registry = marked_threads_detail::registry();
        const std::lock_guard lock(registry.mutex);
        registry.endedCpu += marked_threads_detail::thread_cpu(handle_.get());
        std::erase(registry.running, handle_.get());
    }
    MarkedThread(const MarkedThread&) = delete;
    MarkedThread& operator=(const MarkedThread&) = delete;

private:
    UniqueKernelHandle handle_;
};

// CPU nanoseconds the process has spent so far outside the marked threads: the window thread, the
// renderer's threads and the system's helpers.
inline int64_t cpu_outside_marked_threads() {
    auto& registry = marked_threads_detail::registry();
    const std::lock_guard lock(registry.mutex);
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    int64_t marked = registry.endedCpu;
    for (HANDLE thread : registry.running) {
        marked += marked_threads_detail::thread_cpu(thread);
    }
    return marked_threads_detail::cpu_of(kernel, user) - marked;
}

}  // namespace common
