#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/com_ptr.h"

struct IRawElementProviderSimple;
struct IAccessible;

namespace installer {

class Window;

// Presses a button on the window thread (wParam: its PartId). Screen readers' Invoke and default
// action post it rather than acting inside their call: a press may open the folder dialog or end
// the window, neither of which a provider call may wait for or pull from under its caller.
inline constexpr UINT kPressMessage = WM_APP + 1;

// Carries a reader's call to the window thread (lParam: the pending call, which only this process
// can name; any other value is ignored).
inline constexpr UINT kAccessCallMessage = WM_APP + 2;

// The window as the providers handed to screen readers reach it. They can outlive the window (a
// reader keeps its references as long as it likes), so the window cuts the link when it goes and
// every provider then answers that its element is gone. `window` is read on the window thread only.
struct AccessLink {
    Window* window = nullptr;
    HWND hwnd = nullptr;
    DWORD thread = 0;
};

// Runs `call` on the window thread, where the screen's parts may be read: at once when called there,
// else through kAccessCallMessage. A window that is gone, or that does not answer within a few
// seconds, is reported to the reader instead of holding it.
HRESULT on_window_thread(const AccessLink& link, const std::function<HRESULT()>& call);

// The window procedure's side of kAccessCallMessage.
LRESULT run_access_call(LPARAM call);

// The window's UI Automation tree and its MSAA object, made at the first request of a screen
// reader: a player without one never loads either library. Both are read from the screen's parts
// at the moment of each call; nothing about the screen is kept here except what was last announced.
class Accessibility {
public:
    explicit Accessibility(Window& window);
    Accessibility(const Accessibility&) = delete;
    Accessibility& operator=(const Accessibility&) = delete;
    ~Accessibility();

    // WM_GETOBJECT: the provider tree's root for UiaRootObjectId, the MSAA object for OBJID_CLIENT;
    // nothing for any other object.
    std::optional<LRESULT> answer(WPARAM wParam, LPARAM lParam);
    // The provider tree's root, made at the first call; what the system is handed for UiaRootObjectId.
    IRawElementProviderSimple* root();
    // After each tick: announces a new screen (its heading, and the error's message) and a moved
    // progress bar to whoever listens.
    void tick();
    // The keyboard focus moved to another button (or left them).
    void focus_moved();
    // WM_DESTROY: hands the system back its references to the tree.
    void window_destroyed();

private:
    Window& window_;
    std::shared_ptr<AccessLink> link_;
    common::ComPtr<IRawElementProviderSimple> root_;
    common::ComPtr<IAccessible> msaa_;
    std::wstring announced_;
    int progressValue_ = -1;
};

}  // namespace installer
