#include "app/uia_element.h"

#include <oleauto.h>

#include <vector>

#include "app/window.h"
#include "common/reference_count.h"

namespace installer {
namespace {

constexpr wchar_t kWindowTitle[] = L"Установка Korvane Launcher";
constexpr long kLivePolite = 1;     // LiveSetting: Polite
constexpr long kLiveAssertive = 2;  // LiveSetting: Assertive
constexpr long kHeadingLevel1 = 80051;

VARIANT bool_variant(bool value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT int_variant(long value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT number_variant(double value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}

VARIANT text_variant(const std::wstring& value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    return v;
}

long control_type(PartRole role) {
    switch (role) {
    case PartRole::Button:
        return uia::kButtonControlType;
    case PartRole::ProgressBar:
        return uia::kProgressBarControlType;
    default:
        return uia::kTextControlType;
    }
}

class UiaElement final : public IRawElementProviderSimple,
                         public IRawElementProviderFragment,
                         public IRawElementProviderFragmentRoot,
                         public IInvokeProvider,
                         public IRangeValueProvider,
                         public IWindowProvider {
public:
    UiaElement(std::shared_ptr<AccessLink> link, std::optional<PartId> part) : link_(std::move(link)), part_(part) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IRawElementProviderSimple)) {
            *out = static_cast<IRawElementProviderSimple*>(this);
        } else if (iid == __uuidof(IRawElementProviderFragment)) {
            *out = static_cast<IRawElementProviderFragment*>(this);
        } else if (iid == __uuidof(IRawElementProviderFragmentRoot) && !part_) {
            *out = static_cast<IRawElementProviderFragmentRoot*>(this);
        } else if (iid == __uuidof(IWindowProvider) && !part_) {
            *out = static_cast<IWindowProvider*>(this);
        } else if (iid == __uuidof(IInvokeProvider) && part_ && role_of(*part_) == PartRole::Button) {
            *out = static_cast<IInvokeProvider*>(this);
        } else if (iid == __uuidof(IRangeValueProvider) && part_ && role_of(*part_) == PartRole::ProgressBar) {
            *out = static_cast<IRangeValueProvider*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return references_.add(); }
    ULONG STDMETHODCALLTYPE Release() override { return references_.release(this); }

    // IRawElementProviderSimple
    HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* options) override {
        if (options == nullptr) {
            return E_POINTER;
        }
        // Not COM's threading: a reader's call may arrive on any thread, and every call that reads the
        // window is carried to the window thread by on_window_thread. (With COM's threading, Wine's
        // client waits on the window thread for its own thread, which calls back into the window.)
        *options = ProviderOptions_ServerSideProvider;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID pattern, IUnknown** out) override {
        return on_window_thread(*link_, [&]() -> HRESULT {
            if (out == nullptr) {
                return E_POINTER;
            }
            *out = nullptr;
            Window* window = live_window();
            if (window == nullptr) {
                return uia::kElementNotAvailable;
            }
            const bool offered = (!part_ && pattern == UIA_WindowPatternId) ||
                                 (pattern == UIA_InvokePatternId && has_role(PartRole::Button)) ||
                                 (pattern == UIA_RangeValuePatternId && has_role(PartRole::ProgressBar));
            if (offered) {
                *out = static_cast<IRawElementProviderSimple*>(this);
                AddRef();
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* value) override {
        return on_window_thread(*link_, [&]() -> HRESULT {
            if (value == nullptr) {
                return E_POINTER;
            }
            ::VariantInit(value);
            Window* window = live_window();
            if (window == nullptr) {
                return uia::kElementNotAvailable;
            }
            if (!part_) {
                *value = root_property(*window, property);
                return S_OK;
            }
            const std::vector<ScreenPart> parts = window->parts();
            const ScreenPart* part = find_part(parts, *part_);
            if (part == nullptr) {
                return uia::kElementNotAvailable;
            }
            *value = part_property(*window, *part, property);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(IRawElementProviderSimple** host) override {
        return on_window_thread(*link_, [&]() -> HRESULT {
            if (host == nullptr) {
                return E_POINTER;
            }
            *host = nullptr;
            Window* window = live_window();
            if (!part_ && window != nullptr) {
                return ::UiaHostProviderFromHwnd(window->hwnd, host);
            }
            return S_OK;
        });
    }

    // IRawElementProviderFragment
    HRESULT STDMETHODCALLTYPE Navigate(NavigateDirection direction, IRawElementProviderFragment** out) override {
        return on_window_thread(*link_, [&]() -> HRESULT {
            if (out == nullptr) {
                return E_POINTER;
            }
            *out = nullptr;
            Window* window = live_window();
            if (window == nullptr) {
                return uia::kElementNotAvailable;
            }
            const std::vector<ScreenPart> parts = window->parts();
            std::optional<PartId> target;
            bool toRoot = false;
            if (!part_) {
                if (direction == NavigateDirection_FirstChild && !parts.empty()) {
                    target = parts.front().id;
                } else if (direction == NavigateDirection_LastChild && !parts.empty()) {
                    target = parts.back().id;
                }
            } else {
                const ScreenPart* part = find_part(parts, *part_);
                if (part == nullptr) {
                    return uia::kElementNotAvailable;
                }
                const std::size_t at = static_cast<std::size_t>(part - parts.data());
                if (direction == NavigateDirection_Parent) {
                    toRoot = true;
                } else if (direction == NavigateDirection_NextSibling && at + 1 < parts.size()) {
                    target = parts[at + 1].id;
                } else if (direction == NavigateDirection_PreviousSibling && at > 0) {
                    target = parts[at - 1].id;
                }
            }
            if (toRoot || target) {
                common::ComPtr<IRawElementProviderSimple> element = make_uia_element(link_, target);
                return element->QueryInterface(__uuidof(IRawElementProviderFragment), reinterpret_cast<void**>(out));
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** out) override {
        return on_window_thread(*link_, [&]() -> HRESULT {
            if (out == nullptr) {
                return E_POINTER;
            }
            *out = nullptr;
            if (!part_) {
                // The host provider gives the window's own.
                return S_OK;
            }
            if (live_window() == nullptr) {
                return uia::kElementNotAvailable;
            }
            const int id[] = {uia::kAppendRuntimeId, static_cast<int>(*part_)};
            SAFEARRAY* array = ::SafeArrayCreateVector(VT_I4, 0, 2);
            if (array == nullptr) {
                return E_OUTOFMEMORY;
            }
            for (LONG i = 0; i < 2; ++i) {
                int element = id[i];
                ::SafeArrayPutElement(array, &i, &element);
            }
            *out = array;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_BoundingRectangle(UiaRect* out) override {
        return on_window_thread(*link_, [&]() -> HRESULT {
            if (out == nullptr) {
                return E_POINTER;
            }
            *out = {};
            Window* window = live_window();
            if (window == nullptr) {
                return uia::kElementNotAvailable;
            }
            if (!part_) {
                return S_OK;  // the host provider gives the window's rectangle
            }
            const std::vector<ScreenPart> parts = window->parts();
            const ScreenPart* part = find_part(parts, *part_);
            if (part == nullptr) {
                return uia::kElementNotAvailable;
            }
            POINT origin{0, 0};
            ::ClientToScreen(window->hwnd, &origin);
            out->left = origin.x + part->rect.x * window->scale;
            out->top = origin.y + part->rect.y * window->scale;
            out->width = part->rect.width * window->scale;
            out->height = part->rect.height * window->scale;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetEmbeddedFragmentRoots(SAFEARRAY** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFocus() override {
        return on_window_thread(*link_, [&]() -> HRESULT {
            Window* window = live_window();
            if (window == nullptr) {
                return uia::kElementNotAvailable;
            }
            if (part_ && !window->focus(*part_)) {
                return uia::kInvalidOperation;
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_FragmentRoot(IRawElementProviderFragmentRoot** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        common::ComPtr<IRawElementProviderSimple> root = make_uia_element(link_, std::nullopt);
        return root->QueryInterface(__uuidof(IRawElementProviderFragmentRoot), reinterpret_cast<void**>(out));
    }

    // IRawElementProviderFragmentRoot
    HRESULT STDMETHODCALLTYPE ElementProviderFromPoint(double x, double y, IRawElementProviderFragment** out) override {
        return on_window_thread(*link_, [&]() -> HRESULT {
            if (out == nullptr) {
                return E_POINTER;
            }
            *out = nullptr;
            Window* window = live_window();
            if (window == nullptr) {
                return uia::kElementNotAvailable;
            }
            POINT point{static_cast<LONG>(x), static_cast<LONG>(y)};
            ::ScreenToClient(window->hwnd, &point);
            const float lx = static_cast<float>(point.x) / window->scale;
            const float ly = static_cast<float>(point.y) / window->scale;
            for (const ScreenPart& part : window->parts()) {
                if (part.rect.contains(lx, ly)) {
                    common::ComPtr<IRawElementProviderSimple> element = make_uia_element(link_, part.id);
                    return element->QueryInterface(__uuidof(IRawElementProviderFragment),
                                                   reinterpret_cast<void**>(out));
                }
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetFocus(IRawElementProviderFragment** out) override {
        return on_window_thread(*link_, [&]() -> HRESULT {
            if (out == nullptr) {
                return E_POINTER;
            }
            *out = nullptr;
            Window* window = live_window();
            if (window == nullptr) {
                return uia::kElementNotAvailable;
            }
            if (window->focusedPart && find_part(window->parts(), *window->focusedPart) != nullptr) {
                common::ComPtr<IRawElementProviderSimple> element = make_uia_element(link_, window->focusedPart);
                return element->QueryInterface(__uuidof(IRawElementProviderFragment), reinterpret_cast<void**>(out));
            }
            return S_OK;
        });
    }

    // IInvokeProvider
    HRESULT STDMETHODCALLTYPE Invoke() override {
        return on_window_thread(*link_, [&]() -> HRESULT {
            Window* window = live_window();
            if (window == nullptr || !has_role(PartRole::Button)) {
                return uia::kElementNotAvailable;
            }
            ::PostMessageW(window->hwnd, kPressMessage, static_cast<WPARAM>(*part_), 0);
            return S_OK;
        });
    }

    // IRangeValueProvider: the bar shows the install's progress; nobody sets it.
    HRESULT STDMETHODCALLTYPE SetValue(double) override { return uia::kInvalidOperation; }
    HRESULT STDMETHODCALLTYPE get_Value(double* out) override {
        return on_window_thread(*link_, [&]() -> HRESULT {
            if (out == nullptr) {
                return E_POINTER;
            }
            Window* window = live_window();
            const ScreenPart* part = nullptr;
            std::vector<ScreenPart> parts;
            if (window != nullptr) {
                parts = window->parts();
                part = find_part(parts, *part_);
            }
            if (part == nullptr) {
                return uia::kElementNotAvailable;
            }
            *out = part->value;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL* out) override { return answer(out, TRUE); }
    HRESULT STDMETHODCALLTYPE get_Maximum(double* out) override { return answer(out, 100.0); }
    HRESULT STDMETHODCALLTYPE get_Minimum(double* out) override { return answer(out, 0.0); }
    HRESULT STDMETHODCALLTYPE get_LargeChange(double* out) override { return answer(out, 0.0); }
    HRESULT STDMETHODCALLTYPE get_SmallChange(double* out) override { return answer(out, 0.0); }

    // IWindowProvider: a pop-up that can be minimised and closed, never maximised.
    HRESULT STDMETHODCALLTYPE SetVisualState(WindowVisualState state) override {
        return on_window_thread(*link_, [&]() -> HRESULT {
            Window* window = live_window();
            if (window == nullptr) {
                return uia::kElementNotAvailable;
            }
            if (state == WindowVisualState_Maximized) {
                return uia::kInvalidOperation;
            }
            ::ShowWindow(window->hwnd, state == WindowVisualState_Minimized ? SW_MINIMIZE : SW_RESTORE);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        return on_window_thread(*link_, [&]() -> HRESULT {
            Window* window = live_window();
            if (window == nullptr) {
                return uia::kElementNotAvailable;
            }
            ::PostMessageW(window->hwnd, WM_CLOSE, 0, 0);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE WaitForInputIdle(int, BOOL* out) override { return answer(out, TRUE); }
    HRESULT STDMETHODCALLTYPE get_CanMaximize(BOOL* out) override { return answer(out, FALSE); }
    HRESULT STDMETHODCALLTYPE get_CanMinimize(BOOL* out) override { return answer(out, TRUE); }
    HRESULT STDMETHODCALLTYPE get_IsModal(BOOL* out) override { return answer(out, FALSE); }
    HRESULT STDMETHODCALLTYPE get_IsTopmost(BOOL* out) override { return answer(out, FALSE); }
    HRESULT STDMETHODCALLTYPE get_WindowVisualState(WindowVisualState* out) override {
        return on_window_thread(*link_, [&]() -> HRESULT {
            Window* window = live_window();
            if (window == nullptr) {
                return uia::kElementNotAvailable;
            }
            return answer(out, ::IsIconic(window->hwnd) ? WindowVisualState_Minimized : WindowVisualState_Normal);
        });
    }
    HRESULT STDMETHODCALLTYPE get_WindowInteractionState(WindowInteractionState* out) override {
        return answer(out, WindowInteractionState_ReadyForUserInteraction);
    }

private:
    // Only its last Release deletes it.
    friend class common::ReferenceCount;
    ~UiaElement() = default;

    template <typename T, typename U>
    static HRESULT answer(T* out, U value) {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = static_cast<T>(value);
        return S_OK;
    }

    Window* live_window() const {
        Window* window = link_->window;
        return window != nullptr && ::IsWindow(window->hwnd) ? window : nullptr;
    }

    // Whether this element is a part of `role` that the screen shows now.
    bool has_role(PartRole role) const {
        Window* window = live_window();
        if (!part_ || window == nullptr) {
            return false;
        }
        const std::vector<ScreenPart> parts = window->parts();
        const ScreenPart* part = find_part(parts, *part_);
        return part != nullptr && part->role == role;
    }

    static VARIANT root_property(const Window& window, PROPERTYID property) {
        switch (property) {
        case UIA_ControlTypePropertyId:
            return int_variant(uia::kWindowControlType);
        case UIA_NamePropertyId:
            return text_variant(kWindowTitle);
        case UIA_AutomationIdPropertyId:
            return text_variant(L"KorvaneInstaller");
        case UIA_IsWindowPatternAvailablePropertyId:
        case UIA_IsKeyboardFocusablePropertyId:
            return bool_variant(true);
        case UIA_HasKeyboardFocusPropertyId:
            return bool_variant(::GetFocus() == window.hwnd && !window.focusedPart);
        default: {
            VARIANT empty;
            ::VariantInit(&empty);
            return empty;
        }
        }
    }

    static VARIANT part_property(const Window& window, const ScreenPart& part, PROPERTYID property) {
        const bool button = part.role == PartRole::Button;
        switch (property) {
        case UIA_ControlTypePropertyId:
            return int_variant(control_type(part.role));
        case UIA_LocalizedControlTypePropertyId:
            if (part.role == PartRole::Heading) {
                return text_variant(L"заголовок");
            }
            break;
        case UIA_NamePropertyId:
            return text_variant(part.name);
        case UIA_AutomationIdPropertyId:
            return text_variant(automation_id(part.id));
        case UIA_IsKeyboardFocusablePropertyId:
            return bool_variant(button);
        case UIA_HasKeyboardFocusPropertyId:
            return bool_variant(button && window.focusedPart == part.id);
        case UIA_IsEnabledPropertyId:
        case UIA_IsContentElementPropertyId:
        case UIA_IsControlElementPropertyId:
            return bool_variant(true);
        case UIA_IsInvokePatternAvailablePropertyId:
            return bool_variant(button);
        case UIA_IsRangeValuePatternAvailablePropertyId:
            return bool_variant(part.role == PartRole::ProgressBar);
        case UIA_RangeValueValuePropertyId:
            if (part.role == PartRole::ProgressBar) {
                return number_variant(part.value);
            }
            break;
        case UIA_LiveSettingPropertyId:
            if (part.role == PartRole::Heading) {
                return int_variant(kLivePolite);
            }
            if (part.id == PartId::ErrorMessage) {
                return int_variant(kLiveAssertive);
            }
            break;
        case UIA_HeadingLevelPropertyId:
            if (part.role == PartRole::Heading) {
                return int_variant(kHeadingLevel1);
            }
            break;
        default:
            break;
        }
        VARIANT empty;
        ::VariantInit(&empty);
        return empty;
    }

    common::ReferenceCount references_;
    std::shared_ptr<AccessLink> link_;
    std::optional<PartId> part_;
};

}  // namespace

common::ComPtr<IRawElementProviderSimple> make_uia_element(std::shared_ptr<AccessLink> link,
                                                           std::optional<PartId> part) {
    common::ComPtr<IRawElementProviderSimple> element;
    *element.put() = new UiaElement(std::move(link), part);
    return element;
}

const wchar_t* automation_id(PartId id) {
    switch (id) {
    case PartId::CloseButton:
        return L"close";
    case PartId::Heading:
        return L"heading";
    case PartId::Subtitle:
        return L"subtitle";
    case PartId::FolderLabel:
        return L"folderLabel";
    case PartId::FolderPath:
        return L"folderPath";
    case PartId::ChangeButton:
        return L"changeFolder";
    case PartId::Feature:
        return L"feature";
    case PartId::Progress:
        return L"progress";
    case PartId::SizeLine:
        return L"size";
    case PartId::Percent:
        return L"percent";
    case PartId::StepDownload:
        return L"stepDownload";
    case PartId::StepInstall:
        return L"stepInstall";
    case PartId::StepShortcuts:
        return L"stepShortcuts";
    case PartId::ResultText:
        return L"resultText";
    case PartId::ErrorMessage:
        return L"errorMessage";
    case PartId::PrimaryButton:
        return L"primary";
    case PartId::LaunchButton:
        return L"launch";
    case PartId::SecondaryButton:
        return L"closeResult";
    case PartId::Footer:
        return L"footer";
    }
    return L"";
}

}  // namespace installer
