#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/window.h"
#include "common/com_ptr.h"
#include "release/release_site.h"
#include "tests/app/fake_task.h"
#include "tests/app/test_window.h"
#include "tests/app/uia_client.h"
#include "text/utf.h"

// The window as a keyboard user and a screen reader meet it: the real window, its real provider
// tree read through UI Automation's node client, and its MSAA object through oleacc.

namespace {

using enum common::InstallState;
using installer::PartId;

constexpr long kButton = installer::uia::kButtonControlType;
constexpr long kText = installer::uia::kTextControlType;
constexpr long kProgressBar = installer::uia::kProgressBarControlType;
constexpr LPARAM kRepeat = 0x40000000;

using Tree = std::vector<std::pair<long, std::wstring>>;

std::wstring site_host() {
    return text::wide_from_utf8(release::release_site_host());
}

class Accessible : public ::testing::Test {
protected:
    void SetUp() override { fake_task::reset({"1.4.2", ""}); }
    void TearDown() override { fake_task::release(); }

    void key(WPARAM code, LPARAM flags = 0) { ::SendMessageW(window->hwnd, WM_KEYDOWN, code, flags); }
    void shift_tab() {
        BYTE keys[256]{};
        ::GetKeyboardState(keys);
        keys[VK_SHIFT] = 0x80;
        ::SetKeyboardState(keys);
        key(VK_TAB);
        keys[VK_SHIFT] = 0;
        ::SetKeyboardState(keys);
    }
    std::wstring focused_id() {
        for (const test::UiaElementView& element : test::read_uia_tree(window->hwnd)) {
            if (element.hasFocus) {
                return element.automationId;
            }
        }
        return L"";
    }
    std::vector<std::wstring> tab_walk(int presses, bool backwards) {
        std::vector<std::wstring> seen;
        for (int i = 0; i < presses; ++i) {
            backwards ? shift_tab() : key(VK_TAB);
            seen.push_back(focused_id());
        }
        return seen;
    }

    // The pattern of the element `automationId`, found from the tree's root as the system would.
    template <typename Pattern>
    HRESULT pattern(const std::wstring& automationId, common::ComPtr<Pattern>& out) {
        common::ComPtr<IRawElementProviderFragment> element;
        common::ComPtr<IRawElementProviderFragment> root;
        window->accessibility.root()->QueryInterface(__uuidof(IRawElementProviderFragment), root.put_void());
        root->Navigate(NavigateDirection_FirstChild, element.put());
        while (element) {
            common::ComPtr<IRawElementProviderSimple> simple;
            element.query(simple);
            VARIANT id;
            simple->GetPropertyValue(UIA_AutomationIdPropertyId, &id);
            const bool found = id.vt == VT_BSTR && automationId == id.bstrVal;
            ::VariantClear(&id);
            if (found) {
                return element.query(out);
            }
            common::ComPtr<IRawElementProviderFragment> next;
            element->Navigate(NavigateDirection_NextSibling, next.put());
            element = std::move(next);
        }
        return E_FAIL;
    }

    test::TestWindow window;
};

struct ScreenCase {
    const char* label;
    std::function<void(installer::Window&)> arrange;
    Tree tree;
    double progress;  // the bar's value, -1 when the screen has no bar
};

TEST_F(Accessible, EveryScreenListsWhatItDrawsAndNothingElse) {
    const std::wstring folder = window->installDir.native();
    const std::vector<ScreenCase> cases = {
        {"start",
         [](installer::Window&) {},
         {{kButton, L"Закрыть"},
          {kText, L"Установить Korvane Launcher"},
          {kText, L"ПАПКА УСТАНОВКИ"},
          {kText, folder},
          {kButton, L"Изменить"},
          {kText, L"Ярлыки на рабочем столе и в меню «Пуск»"},
          {kButton, L"Установить лаунчер"},
          {kText, L"Windows 10 / 11 · 64 бит"}},
         -1},
        {"preparing",
         [](installer::Window& w) { w.state = Preparing; },
         {{kButton, L"Закрыть"},
          {kText, L"Готовим твою установку."},
          {kText, L"Подготавливаем всё для первого запуска."},
          {kProgressBar, L"Ход установки"},
          {kText, L"Проверяем доступность файлов"},
          {kText, L"0%"},
          {kText, L"Скачать файлы"},
          {kText, L"Установить лаунчер"},
          {kText, L"Создать ярлыки"},
          {kButton, L"Отменить установку"},
          {kText, L"Установка для текущего пользователя"}},
         0},
        {"downloading",
         [](installer::Window& w) {
             w.state = Downloading;
             w.shownProgress = 0.5f;
             w.bytesDone = 1 << 20;
             w.bytesTotal = 2 << 20;
         },
         {{kButton, L"Закрыть"},
          {kText, L"Скачиваем лаунчер."},
          {kText, L"Загружаем проверенную сборку с " + site_host() + L"."},
          {kProgressBar, L"Ход установки"},
          {kText, L"1 МБ / 2 МБ"},
          {kText, L"50%"},
          {kText, L"Скачать файлы"},
          {kText, L"Установить лаунчер"},
          {kText, L"Создать ярлыки"},
          {kButton, L"Отменить установку"},
          {kText, L"Установка для текущего пользователя"}},
         50},
        {"cancelling while installing",
         [](installer::Window& w) {
             w.state = Installing;
             w.shownProgress = 0.9f;
             w.bytesTotal = 0;
             w.cancelRequested = true;
         },
         {{kButton, L"Закрыть"},
          {kText, L"Отменяем установку..."},
          {kText, L"Подготавливаем всё для первого запуска."},
          {kProgressBar, L"Ход установки"},
          {kText, L"Проверяем доступность файлов"},
          {kText, L"90%"},
          {kText, L"Скачать файлы"},
          {kText, L"Установить лаунчер"},
          {kText, L"Создать ярлыки"},
          {kButton, L"Отмена..."},
          {kText, L"Установка для текущего пользователя"}},
         90},
        {"done",
         [](installer::Window& w) {
             w.state = Done;
             w.versionText = L"1.4.2";
         },
         {{kButton, L"Закрыть"},
          {kText, L"Всё готово. Приятной поездки!"},
          {kText, L"Ярлыки созданы на рабочем столе и в меню «Пуск». Твоя коллекция начинается с первого запуска."},
          {kButton, L"Запустить лаунчер"},
          {kButton, L"Закрыть"},
          {kText, L"Korvane Launcher · 1.4.2"}},
         -1},
        {"failed",
         [](installer::Window& w) {
             w.state = Failed;
             w.errorText = L"Сервер недоступен";
         },
         {{kButton, L"Закрыть"},
          {kText, L"Не получилось завершить установку."},
          {kText, L"Сервер недоступен"},
          {kButton, L"Изменить папку"},
          {kButton, L"Повторить"},
          {kText, L"Проверь подключение и доступ к папке установки."}},
         -1},
    };
    for (const ScreenCase& screen : cases) {
        SCOPED_TRACE(screen.label);
        screen.arrange(*window);
        const std::vector<test::UiaElementView> elements = test::read_uia_tree(window->hwnd);
        Tree tree;
        double progress = -1;
        for (const test::UiaElementView& element : elements) {
            tree.emplace_back(element.controlType, element.name);
            EXPECT_EQ(element.focusable, element.controlType == kButton) << text::utf8_from_wide(element.name);
            if (element.controlType == kProgressBar) {
                // Wine's client reads no pattern's properties: the value is asked of the pattern itself.
                common::ComPtr<IRangeValueProvider> bar;
                ASSERT_EQ(pattern(L"progress", bar), S_OK);
                ASSERT_EQ(bar->get_Value(&progress), S_OK);
                BOOL readOnly = FALSE;
                double maximum = 0;
                bar->get_IsReadOnly(&readOnly);
                bar->get_Maximum(&maximum);
                EXPECT_TRUE(readOnly);
                EXPECT_EQ(maximum, 100.0);
                EXPECT_EQ(bar->SetValue(10), installer::uia::kInvalidOperation);
            }
        }
        EXPECT_EQ(tree, screen.tree);
        EXPECT_EQ(progress, screen.progress);
    }
}

TEST_F(Accessible, AnElementTheScreenNoLongerShowsSaysItIsGone) {
    common::ComPtr<IRawElementProviderSimple> change;
    ASSERT_EQ(pattern(L"changeFolder", change), S_OK);
    VARIANT name;
    ASSERT_EQ(change->GetPropertyValue(UIA_NamePropertyId, &name), S_OK);
    ::VariantClear(&name);
    window->state = Preparing;
    EXPECT_EQ(change->GetPropertyValue(UIA_NamePropertyId, &name), installer::uia::kElementNotAvailable);
    common::ComPtr<IRawElementProviderFragment> fragment;
    change.query(fragment);
    common::ComPtr<IRawElementProviderFragment> next;
    EXPECT_EQ(fragment->Navigate(NavigateDirection_NextSibling, next.put()), installer::uia::kElementNotAvailable);
}

struct OrderCase {
    const char* label;
    int32_t state;
    std::vector<std::wstring> order;
};

TEST_F(Accessible, TabAndShiftTabWalkTheButtonsInReadingOrderAndTheTreeAgrees) {
    const std::vector<OrderCase> cases = {
        {"start", Idle, {L"close", L"changeFolder", L"primary"}},
        {"progress", Downloading, {L"close", L"primary"}},
        {"done", Done, {L"close", L"launch", L"closeResult"}},
        {"failed", Failed, {L"close", L"changeFolder", L"primary"}},
    };
    for (const OrderCase& screen : cases) {
        SCOPED_TRACE(screen.label);
        window->state = screen.state;
        window->focusedPart.reset();
        std::vector<std::wstring> forward = screen.order;
        forward.push_back(screen.order.front());  // and round again
        EXPECT_EQ(tab_walk(static_cast<int>(forward.size()), false), forward);
        window->focusedPart.reset();
        std::vector<std::wstring> backward(screen.order.rbegin(), screen.order.rend());
        backward.push_back(backward.front());
        EXPECT_EQ(tab_walk(static_cast<int>(backward.size()), true), backward);
    }
}

TEST_F(Accessible, TheFocusRingIsDrawnOnlyOnceTheKeyboardHasBeenUsed) {
    EXPECT_EQ(window->frame_key().scene.focusRing, 0);
    window->focus(PartId::PrimaryButton);  // a reader moving the focus shows it as well
    EXPECT_EQ(window->frame_key().scene.focusRing, static_cast<int>(PartId::PrimaryButton));

    test::TestWindow mouseOnly;
    mouseOnly->click(400, 200);
    ::SendMessageW(mouseOnly->hwnd, WM_KEYDOWN, VK_RETURN, 0);  // Enter without focus: the primary button
    EXPECT_TRUE(mouseOnly->task_pending());
    EXPECT_EQ(mouseOnly->frame_key().scene.focusRing, 0);
    fake_task::release();
    ASSERT_TRUE(mouseOnly.tick_until_task_taken());
}

TEST_F(Accessible, AWholeInstallAndLaunchByKeyboardOnly) {
    key(VK_TAB);
    key(VK_TAB);
    key(VK_TAB);
    ASSERT_EQ(window->focusedPart, PartId::PrimaryButton);
    // A reader is connected from here on: each new screen is announced to it.
    EXPECT_EQ(focused_id(), L"primary");
    key(VK_SPACE);
    ASSERT_TRUE(window->task_pending());
    ASSERT_TRUE(fake_task::wait_started());
    // A held Space repeats: no second press, the install it started goes on.
    key(VK_SPACE, kRepeat);
    window->installStartedAt -= installer::kStartSettleNanoseconds;
    key(VK_SPACE, kRepeat);
    EXPECT_FALSE(window->cancelRequested.load());

    fake_task::release();
    ASSERT_TRUE(window.tick_until_task_taken());
    ASSERT_EQ(window->state.load(), Done);
    // The focused button is gone with its screen; the focus goes to the screen's main button.
    EXPECT_EQ(window->focusedPart, PartId::LaunchButton);
    EXPECT_EQ(focused_id(), L"launch");
    key(VK_RETURN);
    EXPECT_EQ(fake_task::last_launched(), window->installDir / L"KORLAUNCHER.exe");
    EXPECT_FALSE(window.alive());
}

TEST_F(Accessible, KeyboardPressesCloseAndRetry) {
    window->state = Done;
    key(VK_TAB);
    shift_tab();  // the close glyph, then round backwards to "Закрыть"
    ASSERT_EQ(window->focusedPart, PartId::SecondaryButton);
    key(VK_SPACE);
    EXPECT_FALSE(window.alive());

    test::TestWindow failed;
    failed->state = Failed;
    failed->focus(PartId::PrimaryButton);
    ::SendMessageW(failed->hwnd, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(failed->task_pending());
    EXPECT_EQ(failed->state.load(), Preparing);
    fake_task::release();
    ASSERT_TRUE(failed.tick_until_task_taken());
}

TEST_F(Accessible, InvokeThroughTheProviderPressesTheButtonAndTextsOfferNoPattern) {
    common::ComPtr<IInvokeProvider> install;
    ASSERT_EQ(pattern(L"primary", install), S_OK);
    common::ComPtr<IInvokeProvider> notAButton;
    EXPECT_EQ(pattern(L"heading", notAButton), E_NOINTERFACE);
    EXPECT_EQ(install->Invoke(), S_OK);
    EXPECT_FALSE(window->task_pending());  // pressed from the message queue, not inside the call
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::DispatchMessageW(&message);
    }
    EXPECT_TRUE(window->task_pending());
    EXPECT_TRUE(fake_task::wait_started());
}

TEST_F(Accessible, MsaaGivesTheSameNamesRolesAndPressesAButton) {
    struct Child {
        std::wstring name;
        long role;
        std::wstring action;
    };
    std::vector<Child> children;
    HRESULT pressed = E_FAIL;
    const std::vector<test::UiaElementView> tree = test::read_uia_tree(window->hwnd);
    test::on_reader_thread([&] {
        IAccessible* object = nullptr;
        ASSERT_EQ(::AccessibleObjectFromWindow(window->hwnd, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                               reinterpret_cast<void**>(&object)),
                  S_OK);
        long count = 0;
        object->get_accChildCount(&count);
        for (long i = 1; i <= count; ++i) {
            VARIANT child;
            ::VariantInit(&child);
            child.vt = VT_I4;
            child.lVal = i;
            BSTR name = nullptr;
            BSTR action = nullptr;
            VARIANT role;
            ::VariantInit(&role);
            object->get_accName(child, &name);
            object->get_accRole(child, &role);
            object->get_accDefaultAction(child, &action);
            children.push_back({name != nullptr ? name : L"", role.lVal, action != nullptr ? action : L""});
            ::SysFreeString(name);
            ::SysFreeString(action);
        }
        VARIANT install;
        ::VariantInit(&install);
        install.vt = VT_I4;
        install.lVal = count - 1;  // "Установить лаунчер", just above the footer
        pressed = object->accDoDefaultAction(install);
        object->Release();
    });
    ASSERT_EQ(children.size(), tree.size());
    for (std::size_t i = 0; i < tree.size(); ++i) {
        SCOPED_TRACE(text::utf8_from_wide(tree[i].name));
        EXPECT_EQ(children[i].name, tree[i].name);
        const bool button = tree[i].controlType == kButton;
        EXPECT_EQ(children[i].role, button ? ROLE_SYSTEM_PUSHBUTTON : ROLE_SYSTEM_STATICTEXT);
        EXPECT_EQ(children[i].action, button ? L"Нажать" : L"");
    }
    // The press reaches the window through its message queue, which on_reader_thread dispatched.
    EXPECT_EQ(pressed, S_OK);
    EXPECT_TRUE(window->task_pending());
    EXPECT_TRUE(fake_task::wait_started());
}

}  // namespace
