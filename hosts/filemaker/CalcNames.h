// Names in a calculation: function, Let and variable names compare without
// regard to ASCII case, as FileMaker's do; and the definitions of Let and While.
#pragma once

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "Calc.h"

namespace fm_host {

inline std::string lowerAscii(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

inline bool sameName(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// The definitions of Let or While: "name = value" or "[ name = value ; … ]".
inline const std::vector<Node>& letDefinitions(const Node& defs, std::vector<Node>& single) {
    if (defs.kind == Node::Kind::Bracket) return defs.args;
    single.assign(1, defs);
    return single;
}

}  // namespace fm_host
