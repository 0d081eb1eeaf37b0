#include "render/screen_parts.h"

#include <algorithm>
#include <cmath>

#include "render/progress_screen.h"
#include "render/screen_texts.h"

namespace installer {
namespace {

using namespace texts;

constexpr UiRect kTrack{360, 297, 474, 9};

class PartList {
public:
    void add(PartId id, std::wstring name, const UiRect& rect) {
        parts_.push_back({id, role_of(id), spoken(std::move(name)), rect});
    }
    void progress(const UiRect& rect, int value) {
        add(PartId::Progress, L"Ход установки", rect);
        parts_.back().value = value;
    }
    // The step lines are drawn at (x + 25, y - 2) beside their disc.
    void step(PartId id, const wchar_t* name, float y) { add(id, name, {387, y - 2, 425, 26}); }
    std::vector<ScreenPart> take() { return std::move(parts_); }

private:
    std::vector<ScreenPart> parts_;
};

void start_screen(PartList& list, const ScreenModel& model) {
    list.add(PartId::Heading, kStartHeading, {360, 109, 472, 112});
    list.add(PartId::FolderLabel, kFolderLabel, {375, 321, 350, 22});
    list.add(PartId::FolderPath, model.installDir, {375, 344, 347, 27});
    list.add(PartId::ChangeButton, kChange, model.changeButton);
    list.step(PartId::Feature, kShortcutsFeature, 396);
    list.add(PartId::PrimaryButton, kInstall, model.primaryButton);
    list.add(PartId::Footer, kSystemFooter, {360, 512, 442, 26});
}

void progress_screen(PartList& list, const ScreenModel& model) {
    const int32_t s = model.state;
    list.add(PartId::Heading, progress_heading(s, model.cancelling), {360, 112, 470, 112});
    list.add(PartId::Subtitle, progress_subtitle(s, model.siteHost), {360, 234, 470, 48});
    const int percent = s == Preparing ? 0 : std::clamp(static_cast<int>(model.shownProgress * 100.0f), 0, 100);
    list.progress(kTrack, percent);
    list.add(PartId::SizeLine, size_line(model.bytesDone, model.bytesTotal), {360, 320, 310, 28});
    list.add(PartId::Percent, percent_text(model.shownProgress), {783, 320, 52, 28});
    list.step(PartId::StepDownload, kStepDownload, 366);
    list.step(PartId::StepInstall, kStepInstall, 392);
    list.step(PartId::StepShortcuts, kStepShortcuts, 418);
    list.add(PartId::PrimaryButton, model.cancelling ? kCancelling : kCancel, model.primaryButton);
    list.add(PartId::Footer, kUserFooter, {360, 512, 462, 28});
}

void result_screen(PartList& list, const ScreenModel& model) {
    list.add(PartId::Heading, kDoneHeading, {360, 195, 470, 108});
    list.add(PartId::ResultText, kDoneText, {360, 321, 462, 68});
    list.add(PartId::LaunchButton, kLaunch, kLaunchButton);
    list.add(PartId::SecondaryButton, kClose, model.secondaryButton);
    list.add(PartId::Footer, kVersionPrefix + model.versionText, {360, 512, 442, 26});
}

void error_screen(PartList& list, const ScreenModel& model) {
    list.add(PartId::Heading, kFailedHeading, {360, 114, 470, 115});
    list.add(PartId::ErrorMessage, model.errorText, {360, 248, 460, 158});
    if (model.changeRegion) {
        list.add(PartId::ChangeButton, kChangeFolder, *model.changeRegion);
    }
    list.add(PartId::PrimaryButton, kRetry, model.primaryButton);
    list.add(PartId::Footer, kFailedFooter, {360, 512, 458, 30});
}

}  // namespace

std::wstring spoken(std::wstring text) {
    std::replace(text.begin(), text.end(), L'\n', L' ');
    return text;
}

PartRole role_of(PartId id) {
    switch (id) {
    case PartId::CloseButton:
    case PartId::ChangeButton:
    case PartId::PrimaryButton:
    case PartId::LaunchButton:
    case PartId::SecondaryButton:
        return PartRole::Button;
    case PartId::Progress:
        return PartRole::ProgressBar;
    case PartId::Heading:
        return PartRole::Heading;
    default:
        return PartRole::Text;
    }
}

std::vector<ScreenPart> screen_parts(const ScreenModel& model) {
    PartList list;
    // The close glyph has no caption; it is named by what it does, as the system names its own.
    list.add(PartId::CloseButton, kClose, model.closeButton);
    switch (model.state) {
    case Idle:
        start_screen(list, model);
        break;
    case Done:
        result_screen(list, model);
        break;
    case Failed:
        error_screen(list, model);
        break;
    default:
        progress_screen(list, model);
        break;
    }
    return list.take();
}

std::vector<PartId> focus_order(const std::vector<ScreenPart>& parts) {
    std::vector<PartId> order;
    for (const ScreenPart& part : parts) {
        if (part.role == PartRole::Button) {
            order.push_back(part.id);
        }
    }
    return order;
}

const ScreenPart* find_part(const std::vector<ScreenPart>& parts, PartId id) {
    const auto found = std::find_if(parts.begin(), parts.end(), [id](const ScreenPart& part) { return part.id == id; });
    return found == parts.end() ? nullptr : &*found;
}

}  // namespace installer
