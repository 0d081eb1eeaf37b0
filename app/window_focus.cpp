#include <algorithm>

#include "app/window.h"

namespace installer {

std::vector<ScreenPart> Window::parts() const {
    return screen_parts(screen_model());
}

void Window::move_focus(bool backwards) {
    keyboardCues = true;
    const std::vector<PartId> order = focus_order(parts());
    if (order.empty()) {
        return;
    }
    const auto current = focusedPart ? std::find(order.begin(), order.end(), *focusedPart) : order.end();
    std::size_t next = 0;
    if (current == order.end()) {
        next = backwards ? order.size() - 1 : 0;
    } else {
        const std::size_t at = static_cast<std::size_t>(current - order.begin());
        next = backwards ? (at + order.size() - 1) % order.size() : (at + 1) % order.size();
    }
    focusedPart = order[next];
    accessibility.focus_moved();
}

bool Window::focus(PartId id) {
    const std::vector<PartId> order = focus_order(parts());
    if (std::find(order.begin(), order.end(), id) == order.end()) {
        return false;
    }
    keyboardCues = true;
    if (focusedPart != id) {
        focusedPart = id;
        accessibility.focus_moved();
    }
    return true;
}

void Window::press(PartId id) {
    const std::vector<ScreenPart> shown = parts();
    const ScreenPart* part = find_part(shown, id);
    if (part == nullptr || part->role != PartRole::Button) {
        return;
    }
    click(part->rect.x + part->rect.width / 2, part->rect.y + part->rect.height / 2);
}

void Window::press_enter() {
    if (focusedPart) {
        press(*focusedPart);
    } else {
        // A point inside primaryButton and inside the Done screen's launch button.
        click(500.0f, 470.0f);
    }
}

void Window::settle_focus() {
    if (!focusedPart) {
        return;
    }
    const std::vector<PartId> order = focus_order(parts());
    if (std::find(order.begin(), order.end(), *focusedPart) != order.end()) {
        return;
    }
    const auto main = std::find_if(order.begin(), order.end(),
                                   [](PartId id) { return id == PartId::PrimaryButton || id == PartId::LaunchButton; });
    if (main == order.end()) {
        focusedPart.reset();
    } else {
        focusedPart = *main;
    }
    accessibility.focus_moved();
}

}  // namespace installer
