#pragma once

#include <QIcon>

namespace tessary {

// The program's icon, from the resources built into the executable: 16, 32 and 128 pixels.
QIcon AppIcon();

}  // namespace tessary
