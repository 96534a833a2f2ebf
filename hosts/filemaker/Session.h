// Session: one host session's calculations — lines of input in, results out,
// as plain text or one JSON object a line.
#pragma once

#include <ostream>
#include <string>

#include "Calc.h"
#include "PluginHost.h"

namespace fm_host {

class Session {
public:
    Session(PluginHost& host, bool json, std::ostream& out)
        : host_(host), json_(json), out_(out), eval_(host.lookup()) {}

    // One calculation; prints its result (or its error) and flushes.
    // Returns false when it could not be evaluated.
    bool evaluate(const std::string& calc);
    // One line of a script or of standard input: blank lines and "#" comments
    // are skipped, "Set Variable [ $name ; Value: calc ]" sets a variable,
    // anything else is a calculation. With `echo`, each calculation is printed
    // before its result ("> calc").
    bool runLine(const std::string& line, bool echo);

    // The text form of a value: dates as M/D/YYYY, carriage returns as line breaks.
    static std::string plainText(const fmx::Data& value);
    // {"calc":…, "type":"text"|"number"|"date"|"empty", "value":…}
    static std::string jsonLine(const std::string& calc, const fmx::Data& value, const std::string& variable = {});
    static std::string jsonError(const std::string& calc, const std::string& error);

private:
    bool evaluateAt(const std::string& calc, std::size_t columnOffset, const std::string& variable, bool echo,
                    const std::string& echoText);
    PluginHost& host_;
    bool json_;
    std::ostream& out_;
    Evaluator eval_;
};

}  // namespace fm_host
