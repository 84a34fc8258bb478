#include "ops/deinterlace_method.h"

#include "ops/adaptive_deinterlace.h"
#include "ops/field_interpolation.h"
#include "ops/field_ops.h"

namespace tessary {

namespace {

struct MethodName {
    DeinterlaceMethod method;
    std::string_view name;
};
constexpr MethodName kMethodNames[] = {
    {DeinterlaceMethod::Average, "average"},
    {DeinterlaceMethod::Top, "top"},
    {DeinterlaceMethod::Bottom, "bottom"},
    {DeinterlaceMethod::Adaptive, "adaptive"},
};

}  // namespace

std::optional<DeinterlaceMethod> ParseDeinterlaceMethod(std::string_view name) {
    for (const MethodName& entry : kMethodNames) {
        if (entry.name == name) {
            return entry.method;
        }
    }
    return std::nullopt;
}

const char* NameOf(DeinterlaceMethod method) {
    for (const MethodName& entry : kMethodNames) {
        if (entry.method == method) {
            return entry.name.data();
        }
    }
    return "";
}

std::optional<Field> ParseField(std::string_view name) {
    if (name == "top") {
        return Field::Top;
    }
    if (name == "bottom") {
        return Field::Bottom;
    }
    return std::nullopt;
}

const char* NameOf(Field field) {
    return field == Field::Top ? "top" : "bottom";
}

void DeinterlaceBy(CImageSurface& surface, DeinterlaceMethod method, std::optional<Field> keep) {
    const DeepRows deep = DeepRowsOf(surface.GetImage()->GetDeep());
    switch (method) {
        case DeinterlaceMethod::Average:
            Deinterlace(surface);
            return;
        case DeinterlaceMethod::Top:
            KeepField(RowsOf(*surface.GetImage()), Field::Top, deep);
            return;
        case DeinterlaceMethod::Bottom:
            KeepField(RowsOf(*surface.GetImage()), Field::Bottom, deep);
            return;
        case DeinterlaceMethod::Adaptive:
            DeinterlaceAdaptive(RowsOf(*surface.GetImage()), keep, deep);
            return;
    }
}

}  // namespace tessary
