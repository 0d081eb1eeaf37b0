#include "app/msaa_object.h"

#include <vector>

#include "app/window.h"
#include "common/reference_count.h"

namespace installer {
namespace {

constexpr wchar_t kWindowTitle[] = L"Установка Korvane Launcher";
constexpr wchar_t kPressAction[] = L"Нажать";

HRESULT put_text(BSTR* out, const std::wstring& text) {
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

void put_child(VARIANT* out, long child) {
    ::VariantInit(out);
    out->vt = VT_I4;
    out->lVal = child;
}

long role_of(PartRole role) {
    switch (role) {
    case PartRole::Button:
        return ROLE_SYSTEM_PUSHBUTTON;
    case PartRole::ProgressBar:
        return ROLE_SYSTEM_PROGRESSBAR;
    default:
        return ROLE_SYSTEM_STATICTEXT;
    }
}

class MsaaObject final : public IAccessible {
public:
    explicit MsaaObject(std::shared_ptr<AccessLink> link) : link_(std::move(link)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return references_.add(); }
    ULONG STDMETHODCALLTYPE Release() override { return references_.release(this); }

    // IDispatch: readers call IAccessible directly; there is no type library to offer.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        Window* window = live_window();
        if (window == nullptr) {
            return RPC_E_DISCONNECTED;
        }
        return ::AccessibleObjectFromWindow(window->hwnd, static_cast<DWORD>(OBJID_WINDOW), __uuidof(IDispatch),
                                            reinterpret_cast<void**>(out));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        Window* window = live_window();
        if (window == nullptr) {
            return RPC_E_DISCONNECTED;
        }
        *out = static_cast<long>(window->parts().size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        Subject subject;
        const HRESULT found = resolve(child, subject);
        // The parts are simple children: everything about them is asked of this object.
        return FAILED(found) ? found : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* out) override {
        return text_of(child, out, [](const Subject& subject) -> std::optional<std::wstring> {
            return subject.part ? subject.part->name : std::wstring(kWindowTitle);
        });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* out) override {
        return text_of(child, out, [](const Subject& subject) -> std::optional<std::wstring> {
            if (subject.part && subject.part->role == PartRole::ProgressBar) {
                return std::to_wstring(subject.part->value) + L"%";
            }
            return std::nullopt;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override { return nothing(child, out); }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        ::VariantInit(out);
        Subject subject;
        if (const HRESULT found = resolve(child, subject); FAILED(found)) {
            return found;
        }
        put_child(out, subject.part ? role_of(subject.part->role) : ROLE_SYSTEM_CLIENT);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        ::VariantInit(out);
        Subject subject;
        if (const HRESULT found = resolve(child, subject); FAILED(found)) {
            return found;
        }
        long state = 0;
        if (!subject.part) {
            state = STATE_SYSTEM_FOCUSABLE | (::GetFocus() == subject.window->hwnd ? STATE_SYSTEM_FOCUSED : 0);
        } else if (subject.part->role == PartRole::Button) {
            state = STATE_SYSTEM_FOCUSABLE;
            if (subject.window->focusedPart == subject.part->id) {
                state |= STATE_SYSTEM_FOCUSED;
            }
        } else {
            state = STATE_SYSTEM_READONLY;
        }
        put_child(out, state);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* out) override { return nothing(child, out); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        if (file != nullptr) {
            *file = nullptr;
        }
        if (topic != nullptr) {
            *topic = 0;
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* out) override { return nothing(child, out); }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        ::VariantInit(out);
        Window* window = live_window();
        if (window == nullptr) {
            return RPC_E_DISCONNECTED;
        }
        const std::vector<ScreenPart> parts = window->parts();
        if (window->focusedPart) {
            if (const ScreenPart* part = find_part(parts, *window->focusedPart)) {
                put_child(out, static_cast<long>(part - parts.data()) + 1);
                return S_OK;
            }
        }
        if (::GetFocus() == window->hwnd) {
            put_child(out, CHILDID_SELF);
            return S_OK;
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        ::VariantInit(out);
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override {
        return text_of(child, out, [](const Subject& subject) -> std::optional<std::wstring> {
            if (subject.part && subject.part->role == PartRole::Button) {
                return std::wstring(kPressAction);
            }
            return std::nullopt;
        });
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        Subject subject;
        if (const HRESULT found = resolve(child, subject); FAILED(found)) {
            return found;
        }
        if (subject.part && (flags & SELFLAG_TAKEFOCUS) != 0 && subject.window->focus(subject.part->id)) {
            return S_OK;
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override {
        if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) {
            return E_POINTER;
        }
        Subject subject;
        if (const HRESULT found = resolve(child, subject); FAILED(found)) {
            return found;
        }
        const HWND hwnd = subject.window->hwnd;
        RECT client{};
        ::GetClientRect(hwnd, &client);
        POINT origin{0, 0};
        ::ClientToScreen(hwnd, &origin);
        if (!subject.part) {
            *left = origin.x;
            *top = origin.y;
            *width = client.right;
            *height = client.bottom;
            return S_OK;
        }
        const float scale = subject.window->scale;
        const UiRect& r = subject.part->rect;
        *left = origin.x + static_cast<long>(r.x * scale);
        *top = origin.y + static_cast<long>(r.y * scale);
        *width = static_cast<long>(r.width * scale);
        *height = static_cast<long>(r.height * scale);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        ::VariantInit(out);
        Subject subject;
        if (const HRESULT found = resolve(start, subject); FAILED(found)) {
            return found;
        }
        const long count = static_cast<long>(subject.parts.size());
        long target = 0;
        if (!subject.part) {
            if (direction == NAVDIR_FIRSTCHILD) {
                target = 1;
            } else if (direction == NAVDIR_LASTCHILD) {
                target = count;
            }
        } else if (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN) {
            target = subject.childId + 1;
        } else if (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP) {
            target = subject.childId - 1;
        }
        if (target < 1 || target > count) {
            return S_FALSE;
        }
        put_child(out, target);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        ::VariantInit(out);
        Window* window = live_window();
        if (window == nullptr) {
            return RPC_E_DISCONNECTED;
        }
        POINT point{x, y};
        ::ScreenToClient(window->hwnd, &point);
        RECT client{};
        ::GetClientRect(window->hwnd, &client);
        if (!::PtInRect(&client, point)) {
            return S_FALSE;
        }
        const float lx = static_cast<float>(point.x) / window->scale;
        const float ly = static_cast<float>(point.y) / window->scale;
        const std::vector<ScreenPart> parts = window->parts();
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (parts[i].rect.contains(lx, ly)) {
                put_child(out, static_cast<long>(i) + 1);
                return S_OK;
            }
        }
        put_child(out, CHILDID_SELF);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        Subject subject;
        if (const HRESULT found = resolve(child, subject); FAILED(found)) {
            return found;
        }
        if (!subject.part || subject.part->role != PartRole::Button) {
            return DISP_E_MEMBERNOTFOUND;
        }
        ::PostMessageW(subject.window->hwnd, kPressMessage, static_cast<WPARAM>(subject.part->id), 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    // What a child id names on the current screen: the window itself or one of its parts.
    struct Subject {
        Window* window = nullptr;
        std::vector<ScreenPart> parts;
        const ScreenPart* part = nullptr;
        long childId = CHILDID_SELF;
    };

    // Only its last Release deletes it.
    friend class common::ReferenceCount;
    ~MsaaObject() = default;

    Window* live_window() const {
        Window* window = link_->window;
        return window != nullptr && ::IsWindow(window->hwnd) ? window : nullptr;
    }

    HRESULT resolve(const VARIANT& child, Subject& subject) const {
        subject.window = live_window();
        if (subject.window == nullptr) {
            return RPC_E_DISCONNECTED;
        }
        if (child.vt != VT_I4) {
            return E_INVALIDARG;
        }
        subject.parts = subject.window->parts();
        subject.childId = child.lVal;
        if (child.lVal == CHILDID_SELF) {
            return S_OK;
        }
        if (child.lVal < 1 || child.lVal > static_cast<long>(subject.parts.size())) {
            return E_INVALIDARG;
        }
        subject.part = &subject.parts[static_cast<std::size_t>(child.lVal - 1)];
        return S_OK;
    }

    template <typename Text>
    HRESULT text_of(const VARIANT& child, BSTR* out, Text text) const {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        Subject subject;
        if (const HRESULT found = resolve(child, subject); FAILED(found)) {
            return found;
        }
        const std::optional<std::wstring> value = text(subject);
        return value ? put_text(out, *value) : S_FALSE;
    }

    HRESULT nothing(const VARIANT& child, BSTR* out) const {
        return text_of(child, out, [](const Subject&) -> std::optional<std::wstring> { return std::nullopt; });
    }

    common::ReferenceCount references_;
    std::shared_ptr<AccessLink> link_;
};

}  // namespace

common::ComPtr<IAccessible> make_msaa_object(std::shared_ptr<AccessLink> link) {
    common::ComPtr<IAccessible> object;
    *object.put() = new MsaaObject(std::move(link));
    return object;
}

}  // namespace installer
