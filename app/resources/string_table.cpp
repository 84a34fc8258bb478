#include "app/resources/string_table.h"

namespace tessary {
namespace {

struct StringEntry {
    unsigned id;
    const char* text;
};

constexpr StringEntry kStrings[] = {
    {kAboutMenuStringId, "&About Tessary..."},
    {kRenderingStringId, "Rendering"},
};

}  // namespace

QString LoadResourceString(unsigned id) {
    for (const StringEntry& e : kStrings) {
        if (e.id == id) {
            return QString::fromUtf8(e.text);
        }
    }
    return {};
}

}  // namespace tessary
