#pragma once

// A phonaxis-cli command's named table (--table, --csv or --json), run
// in-process and read back.

#include "support/CliRunning.h"
#include "support/TidyReader.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace phonaxis::test {

// `args` with the option of `format` added; the command must succeed and
// its output read as a table whose `textColumns` hold text.
inline TidyTable cliTable(std::vector<std::string> args, TidyFormat format,
                          const std::set<std::string>& textColumns)
{
    const char* const options[] = {"--table", "--csv", "--json"};
    args.push_back(options[int(format)]);
    const CliResult r = runCli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string error;
    const auto read = readTidy(r.out, format, textColumns, error);
    EXPECT_TRUE(read) << error << "\n" << r.out.substr(0, 400);
    return read.value_or(TidyTable{});
}

} // namespace phonaxis::test
