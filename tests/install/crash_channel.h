#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "common/unique_handle.h"

// What the crash helper shares with the test that kills it: the placement's own progress, state
// and cancel flag live here, in memory both processes map, so the test can pick its moment.
struct CrashChannel {
    enum Phase : int32_t { NotStarted = 0, Placing = 1, Finished = 2, Failed = 3 };

    std::atomic<int32_t> phase;
    std::atomic<float> progress;
    std::atomic<bool> cancel;
    std::atomic<int32_t> state;
};

static_assert(std::atomic<int32_t>::is_always_lock_free && std::atomic<float>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "the channel is shared between processes: its atomics must not rely on a lock");

// Owner of a mapped view of the channel.
using UniqueMappedView = common::UniqueAny<void*, ::UnmapViewOfFile>;
