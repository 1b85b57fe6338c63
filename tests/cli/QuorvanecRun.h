#pragma once
// The headless compiler run as a user runs it, for the command tests.
#include "ExeTools.h"

#include <string>

namespace qvtest {

struct Outcome {
    int status;
    std::string out;
};

// Standard output, and standard error after it unless `quietErrors`.
inline Outcome Quorvanec(const std::string& args, bool quietErrors = false)
{
    int status = 0;
    std::string out = Capture(Quoted(QV_QUORVANEC) + " " + args + (quietErrors ? " 2>/dev/null" : " 2>&1"), &status);
    return {status, out};
}

} // namespace qvtest
