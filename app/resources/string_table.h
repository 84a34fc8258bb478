#pragma once

#include <QString>

namespace tessary {

inline constexpr unsigned kAboutMenuStringId = 101;  // "&About Tessary..."
inline constexpr unsigned kRenderingStringId = 104;  // the progress window's caption

// The string of that number; empty for an unknown one.
QString LoadResourceString(unsigned id);

}  // namespace tessary
