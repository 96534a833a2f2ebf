// JSON written out as FileMaker writes it: compact (JSONSetElement and the
// other JSON functions), or laid out to be read (JSONFormatElements).
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace fm_host {

// On one line, keys in their order; text that is not UTF-8 is replaced, not refused.
std::string compactJson(const nlohmann::json& j);

// FileMaker's readable layout: a tab an indentation level, " : " after a key,
// an object or array that is a member's value on its own line, short arrays of
// plain values on one line; lines end with a carriage return.
std::string readableJson(const nlohmann::json& j);

}  // namespace fm_host
