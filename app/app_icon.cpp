#include "app/app_icon.h"

// The resource initialiser lives in the global namespace.
static void InitTessaryResources() {
    Q_INIT_RESOURCE(tessary);
}

namespace tessary {

QIcon AppIcon() {
    // Static libraries keep their resources only when something asks for them.
    static const bool registered = (InitTessaryResources(), true);
    (void)registered;
    QIcon icon;
    for (int size : {16, 32, 128}) {
        icon.addFile(QStringLiteral(":/tessary/icons/tessary-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace tessary
