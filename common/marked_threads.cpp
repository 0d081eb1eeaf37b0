#include "common/marked_threads.h"

namespace common {

namespace {

int64_t cpu_of(const FILETIME& kernel, const FILETIME& user) {
    const auto value = [](const FILETIME& time) {
        return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    };
    return (value(kernel) + value(user)) * 100;  // 100 ns units to nanoseconds
}

int64_t thread_cpu(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return cpu_of(kernel, user);
}

// The marked threads that still run, and the CPU of those that have ended (it stays in the
// process's total). A slim lock, held only for a few system calls; the install's threads take it
// twice each. There are never more marked threads at once than slots.
constexpr int kSlots = 4;
struct Registry {
    SRWLOCK lock = SRWLOCK_INIT;
    HANDLE running[kSlots] = {};
    int64_t endedCpu = 0;
};
Registry registry;

class Locked {
public:
    Locked() { ::AcquireSRWLockExclusive(&registry.lock); }
    ~Locked() { ::ReleaseSRWLockExclusive(&registry.lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// SetThreadDescription is looked up at run time: the MinGW headers do not declare it.
void name_thread(const wchar_t* name) {
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto set = kernel == nullptr ? nullptr
                                       : reinterpret_cast<SetDescription>(
                                             reinterpret_cast<void*>(::GetProcAddress(kernel, "SetThreadDescription")));
    if (set != nullptr) {
        set(::GetCurrentThread(), name);
    }
}

}  // namespace

MarkedThread::MarkedThread(const wchar_t* name) {
    if (name != nullptr) {
        name_thread(name);
    }
    HANDLE self = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &self,
                           THREAD_QUERY_LIMITED_INFORMATION, FALSE, 0)) {
        return;  // the thread's CPU then counts as the window's: frames are paced more sparingly
    }
    handle_.reset(self);
    const Locked lock;
    for (HANDLE& slot : registry.running) {
        if (slot == nullptr) {
            slot = self;
            return;
        }
    }
    handle_.reset();  // no free slot: counted as the window's, as above
}

MarkedThread::~MarkedThread() {
    if (!handle_) {
        return;
    }
    const Locked lock;
    registry.endedCpu += thread_cpu(handle_.get());
    for (HANDLE& slot : registry.running) {
        if (slot == handle_.get()) {
            slot = nullptr;
        }
    }
}

int64_t cpu_outside_marked_threads() {
    const Locked lock;
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    int64_t marked = registry.endedCpu;
    for (HANDLE thread : registry.running) {
        if (thread != nullptr) {
            marked += thread_cpu(thread);
        }
    }
    return cpu_of(kernel, user) - marked;
}

}  // namespace common
