#pragma once

#include <cstdint>
#include <span>

namespace tessary {

// What a control template line turns into.
enum class ControlKind {
    PushButton,
    DefaultPushButton,
    ListBox,
    StaticText,
    StaticIcon,
    AutoCheckBox,
    Edit,
    GroupBox,
    ProgressBar,
};

// Style bits of a control line; only the ones the dialogs use.
enum ControlStyle : uint32_t {
    kStyleNone = 0,
    kHidden = 1u << 0,             // created but not shown
    kBorder = 1u << 1,             // framed edit, list or bar
    kVScroll = 1u << 2,            // vertical scroll bar
    kExtendedSelection = 1u << 3,  // list: shift/ctrl multiple selection
    kNotify = 1u << 4,             // list: reports selection changes
    kDigitsOnly = 1u << 5,         // edit: typing accepts digits only
    kCentred = 1u << 6,            // edit: centred text
    kAutoHScroll = 1u << 7,        // edit: scrolls sideways while typing
    kWordWrap = 1u << 8,           // static: left-aligned, wraps over lines
    kNoPrefix = 1u << 9,           // static: "&" is shown, not a mnemonic
};

// A control without an id (labels, frames, the About icon).
inline constexpr int kNoControlId = -1;

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;
    // Dialog units.
    int x, y, width, height;
    uint32_t style;
};

struct DialogTemplate {
    int id;
    const char* caption;
    int width, height;  // dialog units
    int fontPointSize;
    std::span<const ControlTemplate> controls;  // in tab order
};

// Dialog resources by number: 100 About box, 102 main dialog, 103 progress window.
inline constexpr int kAboutDialogId = 100;
inline constexpr int kMainDialogId = 102;
inline constexpr int kProgressDialogId = 103;

// The template of that number; nullptr for an unknown one.
const DialogTemplate* FindDialogTemplate(int id);

}  // namespace tessary
