// The calculation functions QuillmarkFM registers, in registration order.
#pragma once

#include <cstdint>
#include <span>

#include "PluginSDK.h"

namespace quill::fm {

struct FunctionRow {
    std::int16_t id;
    std::int16_t minParams;
    std::int16_t maxParams;
    std::uint32_t flags;
    fmx::ExtPluginType handler;
};

std::span<const FunctionRow> functionTable();

}  // namespace quill::fm
