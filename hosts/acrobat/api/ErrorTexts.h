// ErrorTexts: the table of error messages (see ErrorTexts.cpp).
#pragma once

#include <vector>

#include "AcroSDK.h"

namespace acro_host {

struct ErrorText {
    ASInt32 system;
    ASInt32 number;
    const char* text;
};

const std::vector<ErrorText>& errorTexts();

// Said of any code the table does not know.
inline constexpr const char* kUnknownErrorText = "An unknown error occurred.";

}  // namespace acro_host
