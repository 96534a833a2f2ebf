// The trap every calculation handler runs its body in: nothing thrown inside
// reaches the host; an escaped exception is logged and recorded as -998.
#pragma once

#include <syslog.h>

#include <exception>

#include "PluginSDK.h"
#include "PluginError.h"

namespace quill::fm {

template <class Body>
fmx::errcode guardedHandler(const char* name, fmx::Data& result, Body&& body) noexcept {
    try {
        body();
        return 0;
    } catch (const std::exception& e) {
        syslog(LOG_ERR, "QuillmarkFM: %s: %s", name, e.what());
    } catch (...) {
        syslog(LOG_ERR, "QuillmarkFM: %s: unknown exception", name);
    }
    try {
        setErrorResult(kUnknownException, std::nullopt, result);
    } catch (...) {
        // Out of memory even for the error text: the result stays as it is.
    }
    return 0;
}

}  // namespace quill::fm
