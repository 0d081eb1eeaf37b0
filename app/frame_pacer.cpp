#include "app/frame_pacer.h"

namespace installer {
namespace {

// How long after a frame began its price stays open: under Wine the renderer's command thread and
// rasterizer threads finish a frame well within this after the window thread has handed it over.
// Longer would count more of what the process does between frames as the frame's.
constexpr int64_t kPricingTime = 200'000'000;
// A fade is animated when the share affords a frame every quarter of its 0.25 s.
constexpr int64_t kFadeStep = 62'500'000;

bool affords(int64_t sinceLastFrame, int64_t frameCost, double share) {
    return static_cast<double>(sinceLastFrame) * share >= static_cast<double>(frameCost);
}

}  // namespace

bool frame_due(const FrameChange& change, int64_t sinceLastFrame, int64_t frameCost, bool installing) {
    if (change.scene) {
        return true;
    }
    if (installing) {
        if (change.progress && sinceLastFrame >= kProgressFloor) {
            return true;
        }
        return (change.progress || change.animation) && affords(sinceLastFrame, frameCost, kInstallShare);
    }
    // Without an install the intro and the hover follow the player at once: they are short, and
    // nothing waits for the cores.
    if (change.animation) {
        return true;
    }
    return change.glow && affords(sinceLastFrame, frameCost, kIdleShare);
}

bool fades_animated(int64_t frameCost) {
    return static_cast<double>(frameCost) <= kInstallShare * static_cast<double>(kFadeStep);
}

void FramePacer::frame_began(int64_t now, int64_t cpu, bool steady) noexcept {
    close_price(cpu);
    pricing_ = steady;
    priceBegin_ = now;
    priceCpu_ = cpu;
}

void FramePacer::frame_ended(int64_t end) noexcept {
    lastEnd_ = end;
    if (firstEnd_ == 0) {
        firstEnd_ = end;
    }
}

bool FramePacer::price_due(int64_t now) const noexcept {
    return pricing_ && now - priceBegin_ >= kPricingTime;
}

void FramePacer::close_price(int64_t cpu) noexcept {
    if (pricing_) {
        pricing_ = false;
        add_cost(cpu - priceCpu_);
    }
}

void FramePacer::frame_painted(int64_t end, int64_t cost, bool steady) noexcept {
    frame_ended(end);
    if (steady) {
        add_cost(cost);
    }
}

void FramePacer::add_cost(int64_t cost) noexcept {
    if (cost <= 0) {
        return;
    }
    if (cost_ == 0) {
        cost_ = cost;
        return;
    }
    // A quick rise and a slow fall: one expensive frame (the machine got busy) counts at once, a
    // single cheap one does not yet mean the machine is quiet again.
    cost_ = cost > cost_ ? (cost_ + cost) / 2 : (cost_ * 7 + cost) / 8;
}

}  // namespace installer
