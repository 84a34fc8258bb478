#include "app/resources/dialog_templates.h"

namespace tessary {
namespace {

using K = ControlKind;

constexpr ControlTemplate kAboutControls[] = {
    {kNoControlId, K::StaticIcon, "", 5, 5, 21, 20, kStyleNone},
    {kNoControlId, K::StaticText, "Tessary Version 1.0", 35, 5, 119, 8, kNoPrefix},
    {kNoControlId, K::StaticText,
     "Copyright (c) 2026 The Tessary developers\n\nThis software is based in part on the work of "
     "the Independent "
     "JPEG Group.",
     35, 15, 140, 35, kWordWrap},
    {1, K::DefaultPushButton, "OK", 180, 5, 50, 14, kStyleNone},
    {kNoControlId, K::StaticText,
     "This software is provided as is, without any guarantee or warranty of any kind. No "
     "responsibility is taken for damage or loss of any kind caused by its use or misuse.",
     35, 55, 145, 70, kWordWrap},
};

constexpr ControlTemplate kMainControls[] = {
    {1, K::PushButton, "Close", 195, 5, 50, 14, kStyleNone},
    {2, K::PushButton, "Cancel", 195, 21, 50, 14, kHidden},
    {1000, K::ListBox, "", 10, 15, 120, 160, kBorder | kVScroll | kExtendedSelection | kNotify},
    {kNoControlId, K::StaticText, "Input Images:", 10, 5, 44, 8, kStyleNone},
    {1001, K::PushButton, "Add", 10, 180, 50, 14, kStyleNone},
    {1002, K::PushButton, "Remove", 80, 180, 50, 14, kStyleNone},
    {1003, K::AutoCheckBox, "Deinterlace", 135, 40, 52, 10, kStyleNone},
    {1004, K::AutoCheckBox, "Clip", 135, 55, 27, 10, kStyleNone},
    {1005, K::Edit, "", 206, 60, 40, 12, kBorder | kDigitsOnly | kCentred | kAutoHScroll},
    {1006, K::Edit, "", 206, 76, 40, 12, kBorder | kDigitsOnly | kCentred | kAutoHScroll},
    {kNoControlId, K::StaticText, "Top:", 175, 62, 16, 8, kStyleNone},
    {kNoControlId, K::StaticText, "Bottom:", 175, 77, 25, 8, kStyleNone},
    {1007, K::AutoCheckBox, "Soften Horizontal Borders", 135, 100, 96, 10, kStyleNone},
    {kNoControlId, K::GroupBox, "", 170, 50, 80, 45, kStyleNone},
    {1008, K::PushButton, "Process", 200, 180, 50, 14, kStyleNone},
    {kNoControlId, K::StaticText, "Output Location:", 135, 150, 54, 8, kStyleNone},
    {1010, K::Edit, "", 134, 160, 105, 12, kBorder | kAutoHScroll},
    {1011, K::PushButton, "...", 240, 160, 10, 13, kStyleNone},
};

constexpr ControlTemplate kProgressControls[] = {
    {2, K::DefaultPushButton, "Cancel", 67, 77, 50, 14, kStyleNone},
    {1003, K::ProgressBar, "", 15, 58, 154, 13, kBorder},
    {1004, K::StaticText, " 0 %", 85, 47, 18, 8, kStyleNone},
    {1005, K::StaticText, "", 13, 7, 158, 34, kWordWrap},
};

constexpr DialogTemplate kTemplates[] = {
    {kAboutDialogId, "About Tessary", 237, 126, 8, kAboutControls},
    {kMainDialogId, "Tessary", 257, 199, 8, kMainControls},
    {kProgressDialogId, "", 186, 98, 8, kProgressControls},
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) {
    for (const DialogTemplate& t : kTemplates) {
        if (t.id == id) {
            return &t;
        }
    }
    return nullptr;
}

}  // namespace tessary
