#pragma once

// Runs phonaxis-cli in-process and keeps what it printed.

#include "cli/CliCommands.h"

#include <sstream>
#include <string>
#include <vector>

namespace phonaxis::test {

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline CliResult runCli(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    CliResult result;
    result.status = cli::run(args, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
}

} // namespace phonaxis::test
