#pragma once

namespace installer {

// The parts of the right panel and the close glyph that a player reads or presses, each with an
// identity that stays the same from one screen to the next (screen readers keep hold of elements).
enum class PartId : int {
    CloseButton = 1,
    Heading,
    Subtitle,
    FolderLabel,
    FolderPath,
    ChangeButton,
    Feature,
    Progress,
    SizeLine,
    Percent,
    StepDownload,
    StepInstall,
    StepShortcuts,
    ResultText,
    ErrorMessage,
    PrimaryButton,
    LaunchButton,
    SecondaryButton,
    Footer,
};

}  // namespace installer
