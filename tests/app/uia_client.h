#pragma once

#include <windows.h>
#include <oleacc.h>

#include "app/uia_platform.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// A screen reader's view of a window, read through UI Automation's node client (the part of the
// client that Wine implements) from a thread of its own, as a reader in another process would.
namespace test {

struct UiaElementView {
    long controlType = 0;
    std::wstring name;
    std::wstring automationId;
    bool focusable = false;
    bool hasFocus = false;
};

// The children of the window's root, in the order the tree lists them.
std::vector<UiaElementView> read_uia_tree(HWND window);

// Runs `reader` on a multithreaded-apartment thread while this (the window's) thread keeps
// dispatching its messages, so that calls into the window's providers are answered.
void on_reader_thread(const std::function<void()>& reader);

}  // namespace test
