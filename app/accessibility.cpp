#include "app/accessibility.h"

#include <mutex>
#include <set>

#include "app/msaa_object.h"
#include "app/uia_element.h"
#include "app/uia_platform.h"
#include "app/window.h"

namespace installer {
namespace {

constexpr int kNotificationKindOther = 4;   // NotificationKind_Other
constexpr int kNotificationMostRecent = 2;  // NotificationProcessing_ImportantMostRecent

// Windows 10 1709 and later announce a text through a notification; older systems and Wine lack the
// function, so it is looked up in the already loaded library rather than imported.
using RaiseNotification = HRESULT(WINAPI*)(IRawElementProviderSimple*, int, int, BSTR, BSTR);

void raise_notification(IRawElementProviderSimple* element, const std::wstring& text) {
    const HMODULE core = ::GetModuleHandleW(L"uiautomationcore.dll");
    if (core == nullptr) {
        return;
    }
    const auto raise = reinterpret_cast<RaiseNotification>(
        reinterpret_cast<void*>(::GetProcAddress(core, "UiaRaiseNotificationEvent")));
    if (raise == nullptr) {
        return;
    }
    BSTR display = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    BSTR activity = ::SysAllocString(L"KorvaneInstallerScreen");
    raise(element, kNotificationKindOther, kNotificationMostRecent, display, activity);
    ::SysFreeString(activity);
    ::SysFreeString(display);
}

// What a player is told when the screen changes: its heading, and on the error screen the message.
std::wstring announcement_of(const std::vector<ScreenPart>& parts) {
    std::wstring text;
    for (const ScreenPart& part : parts) {
        if (part.role == PartRole::Heading || part.id == PartId::ErrorMessage) {
            text += (text.empty() ? L"" : L" ") + part.name;
        }
    }
    return text;
}

int progress_of(const std::vector<ScreenPart>& parts) {
    const ScreenPart* bar = find_part(parts, PartId::Progress);
    return bar == nullptr ? -1 : bar->value;
}

constexpr UINT kCallTimeoutMilliseconds = 5000;
constexpr HRESULT kTimedOut = static_cast<HRESULT>(0x80131505);  // UIA_E_TIMEOUT

struct PendingCall {
    const std::function<HRESULT()>* call;
    HRESULT result;
};

// The calls waiting for the window thread: kAccessCallMessage runs only these, so another process
// that sends the message cannot make the window follow a pointer of its choosing.
std::mutex pendingLock;
std::set<const PendingCall*> pendingCalls;

// Keeps COM's multithreaded apartment for the rest of the process once a reader has asked for the
// window. Readers' calls, and the release of their last reference to an element, are served in it;
// without a holder of our own it lives only as long as the system's helper threads do, and under Wine
// an apartment whose last holder leaves while a reader's release is being served is torn down inside
// that very call, which then waits for itself and leaves the reader hanging. Never given back: at the
// process's end, letting go could only reopen that race. CoIncrementMTAUsage exists from Windows 8
// on; where it is missing, the apartment is left as the system keeps it.
void keep_multithreaded_apartment() {
    static const bool kept = [] {
        using Increment = HRESULT(WINAPI*)(void**);
        const HMODULE ole = ::GetModuleHandleW(L"ole32.dll");
        const auto increment =
            ole == nullptr
                ? nullptr
                : reinterpret_cast<Increment>(reinterpret_cast<void*>(::GetProcAddress(ole, "CoIncrementMTAUsage")));
        void* cookie = nullptr;
        return increment != nullptr && SUCCEEDED(increment(&cookie));
    }();
    static_cast<void>(kept);
}

}  // namespace

HRESULT on_window_thread(const AccessLink& link, const std::function<HRESULT()>& call) {
    if (::GetCurrentThreadId() == link.thread) {
        return call();
    }
    PendingCall pending{&call, uia::kElementNotAvailable};
    {
        const std::lock_guard lock(pendingLock);
        pendingCalls.insert(&pending);
    }
    DWORD_PTR ignored = 0;
    const LRESULT sent = ::SendMessageTimeoutW(link.hwnd, kAccessCallMessage, 0, reinterpret_cast<LPARAM>(&pending),
                                               SMTO_NORMAL, kCallTimeoutMilliseconds, &ignored);
    const DWORD error = sent == 0 ? ::GetLastError() : ERROR_SUCCESS;
    {
        const std::lock_guard lock(pendingLock);
        pendingCalls.erase(&pending);
    }
    if (sent == 0) {
        return error == ERROR_TIMEOUT ? kTimedOut : uia::kElementNotAvailable;
    }
    return pending.result;
}

LRESULT run_access_call(LPARAM call) {
    auto* pending = reinterpret_cast<PendingCall*>(call);
    // Held through the call: a reader that has stopped waiting cannot take its call away meanwhile.
    const std::lock_guard lock(pendingLock);
    if (pendingCalls.count(pending) == 0) {
        return 0;
    }
    try {
        pending->result = (*pending->call)();
    } catch (...) {
        pending->result = E_FAIL;
    }
    return 0;
}

Accessibility::Accessibility(Window& window) : window_(window), link_(std::make_shared<AccessLink>()) {
    link_->window = &window;
}

Accessibility::~Accessibility() {
    link_->window = nullptr;
}

IRawElementProviderSimple* Accessibility::root() {
    if (!root_) {
        link_->hwnd = window_.hwnd;
        link_->thread = ::GetCurrentThreadId();
        root_ = make_uia_element(link_, std::nullopt);
        const std::vector<ScreenPart> parts = window_.parts();
        announced_ = announcement_of(parts);
        progressValue_ = progress_of(parts);
    }
    return root_.get();
}

std::optional<LRESULT> Accessibility::answer(WPARAM wParam, LPARAM lParam) {
    const LONG object = static_cast<LONG>(lParam);
    if (object == uia::kRootObjectId || object == OBJID_CLIENT) {
        keep_multithreaded_apartment();
    }
    if (object == uia::kRootObjectId) {
        return ::UiaReturnRawElementProvider(window_.hwnd, wParam, lParam, root());
    }
    if (object == OBJID_CLIENT) {
        if (!msaa_) {
            link_->hwnd = window_.hwnd;
            link_->thread = ::GetCurrentThreadId();
            msaa_ = make_msaa_object(link_);
        }
        return ::LresultFromObject(__uuidof(IAccessible), wParam, msaa_.get());
    }
    return std::nullopt;
}

void Accessibility::tick() {
    if (!root_) {
        return;  // no reader has asked; nothing to tell
    }
    const std::vector<ScreenPart> parts = window_.parts();
    const std::wstring announcement = announcement_of(parts);
    if (announcement != announced_) {
        announced_ = announcement;
        const common::ComPtr<IRawElementProviderSimple> heading = make_uia_element(link_, PartId::Heading);
        ::UiaRaiseAutomationEvent(heading.get(), uia::kLiveRegionChangedEvent);
        raise_notification(root_.get(), announcement);
    }
    const int progress = progress_of(parts);
    if (progress != progressValue_) {
        if (progress >= 0 && progressValue_ >= 0) {
            VARIANT before;
            VARIANT after;
            ::VariantInit(&before);
            ::VariantInit(&after);
            before.vt = after.vt = VT_R8;
            before.dblVal = progressValue_;
            after.dblVal = progress;
            const common::ComPtr<IRawElementProviderSimple> bar = make_uia_element(link_, PartId::Progress);
            ::UiaRaiseAutomationPropertyChangedEvent(bar.get(), UIA_RangeValueValuePropertyId, before, after);
        }
        progressValue_ = progress;
    }
}

void Accessibility::focus_moved() {
    const std::optional<PartId> focused = window_.focusedPart;
    if (msaa_ || root_) {
        // MSAA readers follow focus through the system's event, child ids in reading order.
        const std::vector<ScreenPart> parts = window_.parts();
        const ScreenPart* part = focused ? find_part(parts, *focused) : nullptr;
        const LONG child = part == nullptr ? CHILDID_SELF : static_cast<LONG>(part - parts.data()) + 1;
        ::NotifyWinEvent(EVENT_OBJECT_FOCUS, window_.hwnd, OBJID_CLIENT, child);
    }
    if (root_ && focused) {
        const common::ComPtr<IRawElementProviderSimple> element = make_uia_element(link_, focused);
        ::UiaRaiseAutomationEvent(element.get(), uia::kFocusChangedEvent);
    }
}

void Accessibility::window_destroyed() {
    if (root_) {
        // Tells the system that the window's providers are gone, so it drops its references.
        ::UiaReturnRawElementProvider(window_.hwnd, 0, 0, nullptr);
    }
    link_->window = nullptr;
}

}  // namespace installer
