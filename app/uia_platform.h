#pragma once

// What the program needs of UI Automation's provider side beyond MinGW's headers, which declare only
// the four element interfaces and ship an API header that does not compile as C++ (a parameter
// named `new`). Values and layouts are the platform's (UIAutomationCore.idl, UIAutomationCoreApi.h).
#include <windows.h>
#include <uiautomationclient.h>
#include <uiautomationcore.h>

namespace installer::uia {

inline constexpr long kButtonControlType = 50000;
inline constexpr long kProgressBarControlType = 50012;
inline constexpr long kTextControlType = 50020;
inline constexpr long kWindowControlType = 50032;

inline constexpr EVENTID kFocusChangedEvent = 20005;
inline constexpr EVENTID kLiveRegionChangedEvent = 20024;

inline constexpr LONG kRootObjectId = -25;  // UiaRootObjectId
inline constexpr int kAppendRuntimeId = 3;  // UiaAppendRuntimeId
inline constexpr HRESULT kElementNotAvailable = static_cast<HRESULT>(0x80040201);
inline constexpr HRESULT kInvalidOperation = static_cast<HRESULT>(0x80131509);

}  // namespace installer::uia

enum WindowVisualState {
    WindowVisualState_Normal = 0,
    WindowVisualState_Maximized = 1,
    WindowVisualState_Minimized = 2
};
enum WindowInteractionState {
    WindowInteractionState_Running = 0,
    WindowInteractionState_Closing = 1,
    WindowInteractionState_ReadyForUserInteraction = 2,
    WindowInteractionState_BlockedByModalWindow = 3,
    WindowInteractionState_NotResponding = 4
};

MIDL_INTERFACE("54fcb24b-e18e-47a2-b4d3-eccbe77599a2")
IInvokeProvider : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE Invoke() = 0;
};
__CRT_UUID_DECL(IInvokeProvider, 0x54fcb24b, 0xe18e, 0x47a2, 0xb4, 0xd3, 0xec, 0xcb, 0xe7, 0x75, 0x99, 0xa2)

MIDL_INTERFACE("36dc7aef-33e6-4691-afe1-2be7274b3d33")
IRangeValueProvider : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE SetValue(double value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Value(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Maximum(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Minimum(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LargeChange(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SmallChange(double* value) = 0;
};
__CRT_UUID_DECL(IRangeValueProvider, 0x36dc7aef, 0x33e6, 0x4691, 0xaf, 0xe1, 0x2b, 0xe7, 0x27, 0x4b, 0x3d, 0x33)

MIDL_INTERFACE("987df77b-db06-4d77-8f8a-86a9c3bb90b9")
IWindowProvider : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE SetVisualState(WindowVisualState state) = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
    virtual HRESULT STDMETHODCALLTYPE WaitForInputIdle(int milliseconds, BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CanMaximize(BOOL * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CanMinimize(BOOL * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsModal(BOOL * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WindowVisualState(WindowVisualState * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WindowInteractionState(WindowInteractionState * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsTopmost(BOOL * value) = 0;
};
__CRT_UUID_DECL(IWindowProvider, 0x987df77b, 0xdb06, 0x4d77, 0x8f, 0x8a, 0x86, 0xa9, 0xc3, 0xbb, 0x90, 0xb9)

extern "C" {
HRESULT WINAPI UiaHostProviderFromHwnd(HWND hwnd, IRawElementProviderSimple** provider);
LRESULT WINAPI UiaReturnRawElementProvider(HWND hwnd, WPARAM wParam, LPARAM lParam,
                                           IRawElementProviderSimple* provider);
HRESULT WINAPI UiaRaiseAutomationEvent(IRawElementProviderSimple* provider, EVENTID id);
HRESULT WINAPI UiaRaiseAutomationPropertyChangedEvent(IRawElementProviderSimple* provider, PROPERTYID id,
                                                      VARIANT oldValue, VARIANT newValue);
}
