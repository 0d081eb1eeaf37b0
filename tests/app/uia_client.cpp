#include "tests/app/uia_client.h"

#include <atomic>
#include <stdexcept>
#include <thread>
#include <utility>

namespace test {
namespace {

// The node client's declarations; MinGW's headers and import libraries have none of them.
using HUIANODE = void*;
struct Condition {
    int type;  // ConditionType_True = 0
};
struct CacheRequest {
    Condition* viewCondition;
    int scope;
    PROPERTYID* properties;
    int propertyCount;
    PATTERNID* patterns;
    int patternCount;
    int elementMode;
};
using NodeFromHandle = HRESULT(WINAPI*)(HWND, HUIANODE*);
using GetPropertyValue = HRESULT(WINAPI*)(HUIANODE, PROPERTYID, VARIANT*);
using Navigate = HRESULT(WINAPI*)(HUIANODE, NavigateDirection, Condition*, CacheRequest*, SAFEARRAY**, BSTR*);
using NodeFromVariant = HRESULT(WINAPI*)(VARIANT*, HUIANODE*);
using NodeRelease = BOOL(WINAPI*)(HUIANODE);

struct NodeClient {
    NodeClient() {
        const HMODULE core = ::LoadLibraryExW(L"uiautomationcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (core == nullptr) {
            throw std::runtime_error("uiautomationcore.dll not loaded");
        }
        fromHandle =
            reinterpret_cast<NodeFromHandle>(reinterpret_cast<void*>(::GetProcAddress(core, "UiaNodeFromHandle")));
        property =
            reinterpret_cast<GetPropertyValue>(reinterpret_cast<void*>(::GetProcAddress(core, "UiaGetPropertyValue")));
        navigate = reinterpret_cast<Navigate>(reinterpret_cast<void*>(::GetProcAddress(core, "UiaNavigate")));
        fromVariant = reinterpret_cast<NodeFromVariant>(
            reinterpret_cast<void*>(::GetProcAddress(core, "UiaHUiaNodeFromVariant")));
        release = reinterpret_cast<NodeRelease>(reinterpret_cast<void*>(::GetProcAddress(core, "UiaNodeRelease")));
    }
    NodeFromHandle fromHandle;
    GetPropertyValue property;
    Navigate navigate;
    NodeFromVariant fromVariant;
    NodeRelease release;
};

const NodeClient& client() {
    static const NodeClient instance;
    return instance;
}

class Node {
public:
    explicit Node(HUIANODE node = nullptr) : node_(node) {}
    Node(Node&& other) noexcept : node_(std::exchange(other.node_, nullptr)) {}
    Node& operator=(Node&& other) noexcept {
        std::swap(node_, other.node_);
        return *this;
    }
    ~Node() {
        if (node_ != nullptr) {
            client().release(node_);
        }
    }
    explicit operator bool() const { return node_ != nullptr; }
    HUIANODE get() const { return node_; }

private:
    HUIANODE node_;
};

Node node_of_window(HWND window) {
    HUIANODE node = nullptr;
    if (FAILED(client().fromHandle(window, &node))) {
        throw std::runtime_error("UiaNodeFromHandle failed");
    }
    return Node(node);
}

Node step(const Node& from, NavigateDirection direction) {
    Condition all{0};
    CacheRequest request{&all, 1 /* TreeScope_Element */, nullptr, 0, nullptr, 0, 1 /* AutomationElementMode_Full */};
    SAFEARRAY* data = nullptr;
    BSTR structure = nullptr;
    if (FAILED(client().navigate(from.get(), direction, &all, &request, &data, &structure)) || data == nullptr) {
        ::SysFreeString(structure);
        return Node();
    }
    LONG index[2] = {0, 0};
    VARIANT element;
    ::VariantInit(&element);
    HUIANODE node = nullptr;
    if (SUCCEEDED(::SafeArrayGetElement(data, index, &element))) {
        client().fromVariant(&element, &node);
    }
    ::SafeArrayDestroy(data);
    ::SysFreeString(structure);
    return Node(node);
}

VARIANT read(const Node& node, PROPERTYID property) {
    VARIANT value;
    ::VariantInit(&value);
    client().property(node.get(), property, &value);
    return value;
}

std::wstring text(const Node& node, PROPERTYID property) {
    VARIANT value = read(node, property);
    std::wstring out = value.vt == VT_BSTR && value.bstrVal != nullptr ? value.bstrVal : L"";
    ::VariantClear(&value);
    return out;
}

bool flag(const Node& node, PROPERTYID property) {
    const VARIANT value = read(node, property);
    return value.vt == VT_BOOL && value.boolVal == VARIANT_TRUE;
}

}  // namespace

void on_reader_thread(const std::function<void()>& reader) {
    std::atomic<bool> finished{false};
    std::exception_ptr failure;
    std::thread thread([&] {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        try {
            reader();
        } catch (...) {
            failure = std::current_exception();
        }
        ::CoUninitialize();
        finished = true;
    });
    while (!finished) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT) {
                ::DispatchMessageW(&message);
            }
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    thread.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

std::vector<UiaElementView> read_uia_tree(HWND window) {
    std::vector<UiaElementView> elements;
    on_reader_thread([&] {
        const Node root = node_of_window(window);
        for (Node child = step(root, NavigateDirection_FirstChild); child;
             child = step(child, NavigateDirection_NextSibling)) {
            UiaElementView view;
            VARIANT type = read(child, UIA_ControlTypePropertyId);
            view.controlType = type.vt == VT_I4 ? type.lVal : 0;
            view.name = text(child, UIA_NamePropertyId);
            view.automationId = text(child, UIA_AutomationIdPropertyId);
            view.focusable = flag(child, UIA_IsKeyboardFocusablePropertyId);
            view.hasFocus = flag(child, UIA_HasKeyboardFocusPropertyId);
            elements.push_back(std::move(view));
            if (elements.size() > 64) {
                throw std::runtime_error("the tree does not end");
            }
        }
    });
    return elements;
}

}  // namespace test
