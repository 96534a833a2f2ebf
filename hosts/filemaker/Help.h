// Help: what `filemaker-host --help` prints after CLI11's option list (a
// screenful), and the long lists `--help steps` and `--help functions` print.
// The manual page filemaker-host(1) carries the whole story.
#pragma once

#include <optional>
#include <string>

namespace fm_host {

// The text after the option list: the modes in one line each and where to
// read more. Kept short: --help fits a terminal.
std::string helpFooter();

// The text of `--help TOPIC` ("steps" or "functions"); nullopt for another topic.
std::optional<std::string> helpTopic(const std::string& topic);

}  // namespace fm_host
