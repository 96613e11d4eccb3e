#include "support/VowelRecording.h"

#include "cli/CliCommands.h"
#include "cli/CliFormantTrack.h"
#include "cli/CliSession.h"
#include "cli/CliSpectrogramRows.h"
#include "document/FileIO.h"
#include "windows/SpectrogramAnalysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <span>
#include <sstream>
#include <filesystem>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;
using cli::Options;
using cli::SpectrogramRowsText;
using cli::Table;

// Seven columns of formant records: whole, missing (−1), a 0 and the
// largest a record holds; the result has records for six of them only,
// so the seventh reads as having none.
SpectrogramResult sevenColumns()
{
    SpectrogramResult result;
    result.columns = 7;
    result.rows = 1;
    result.m_bHaveSpectrogram = true;
    result.m_bHaveFormants = true;
    result.formants = {
        {730, 1090, 2440, 3400, 4100, 0}, {-1, -1, -1, -1, -1, 0}, {250, 2300, -1, -1, -1, 0},
        {0, 900, 2500, 3300, -1, 0},      {32767, 1, 2, 3, 4, 0},  {512, 1024, 2048, 4096, 4999, 0},
    };
    return result;
}

// The named table of `records` as the command builds it.
Table namedOf(const std::vector<LogRecord>& records, const std::string& path, int channel)
{
    Table table;
    table.columns = {"file", "channel", "time_ms", "F1_hz", "F2_hz", "F3_hz", "F4_hz", "F5_hz"};
    for (const LogRecord& record : records) {
        table.rows.push_back({path, static_cast<double>(channel)});
        table.rows.back().push_back(cli::numberCell(record.values[0]));
        for (int i = 1; i <= 5; ++i) {
            table.rows.back().push_back(cli::formantCell(record.values[static_cast<std::size_t>(i)]));
        }
    }
    return table;
}

// A block of rows is, byte for byte, what the block writer makes of the
// records the spectrogram log gives for the same rows: in every output
// form, for names that need escaping, at a step and a start time with
// fractions, from the first row, from within and across the end.
TEST(SpectrogramRows, TextIsTheBlockWritersTextOfTheRecords)
{
    const SpectrogramResult result = sevenColumns();
    struct Form {
        const char* name;
        bool table, csv, json;
    };
    struct Names {
        std::string display, path;
    };
    const double startMs = 12.5;
    const double spanMs = 100.3;
    const double stepMs = 0.37;
    const SpectrogramSelectionRows rows{startMs, startMs + spanMs, 0.0, spanMs, stepMs, 7};
    for (const Form form : {Form{"log", false, false, false}, Form{"table", true, false, false},
                            Form{"csv", false, true, false}, Form{"json", false, false, true}}) {
        for (const Names& names :
             {Names{"vowel.wav", "/data/vowel.wav"},
              Names{"a\tb\"c,d\n\xc3\xa9.wav", "/data/a\tb\"c,d\n\xc3\xa9.wav"}}) {
            SCOPED_TRACE(std::string(form.name) + " " + names.path);
            Options options;
            options.table = form.table;
            options.csv = form.csv;
            options.json = form.json;
            const Table named = namedOf({}, names.path, 3);
            const SpectrogramRowsText text(options, names.display, names.path, 3, result, rows,
                                           named);
            for (const auto& [first, count] :
                 {std::pair<std::size_t, std::size_t>{0, 272}, {0, 1}, {5, 50}, {260, 100}}) {
                SCOPED_TRACE(std::to_string(first) + " + " + std::to_string(count));
                const std::vector<LogRecord> records = SpectrogramLog::formantsSelection(
                    names.display, result, startMs, startMs + spanMs, 0.0, spanMs, stepMs, first,
                    count);
                ASSERT_FALSE(records.empty());
                EXPECT_EQ(text.block(first, count),
                          cli::BlockWriter::format(options, records, [&] {
                              return namedOf(records, names.path, 3);
                          }));
            }
            EXPECT_EQ(text.block(272, 10), ""); // past the last row
        }
    }
}

// Writes what it is given nowhere, counting the lines, the writes and the
// bytes, and keeping the last line.
class CountingBuffer : public std::streambuf {
public:
    std::size_t lines = 0;
    std::size_t writes = 0;
    std::size_t bytes = 0;
    std::string lastLine;

protected:
    std::streamsize xsputn(const char* text, std::streamsize n) override
    {
        ++writes;
        for (std::streamsize i = 0; i < n; ++i) {
            take(text[i]);
        }
        return n;
    }
    int_type overflow(int_type c) override
    {
        if (c != traits_type::eof()) {
            take(static_cast<char>(c));
        }
        return c;
    }

private:
    void take(char c)
    {
        ++bytes;
        if (c == '\n') {
            ++lines;
            m_line.swap(lastLine);
            m_line.clear();
        } else {
            m_line += c;
        }
    }
    std::string m_line;
};

// More rows than a million (the log step over the whole recording) are
// printed, streamed block by block to the end instead of refused.
TEST(SpectrogramRows, RunsOfMoreThanAMillionRowsStreamToTheEnd)
{
    const fs::path dir = fs::temp_directory_path() / "phonaxis-spectrogram-rows";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string wav = (dir / "vowels.wav").string();
    // 101 s of the vowel at 10 kHz: 1,010,000 rows at the finest log step.
    test::ScriptedPrompts prompts;
    const signals::Vowel vowel = signals::vowel({});
    std::vector<float> samples;
    for (int i = 0; i < 202; ++i) {
        samples.insert(samples.end(), vowel.samples.begin(), vowel.samples.end());
    }
    const std::span<const float> channels[] = {samples};
    const auto bytes = signals::waveFileBytes(vowel.rateHz, channels, prompts);
    ASSERT_TRUE(bytes);
    std::string error;
    ASSERT_TRUE(writeFileAtomically(wav, *bytes, error)) << error;

    CountingBuffer counted;
    std::ostream out(&counted);
    std::ostringstream err;
    ASSERT_EQ(cli::run({"spectrogram", wav, "--csv", "--columns", "100", "--set",
                        "m_dLogStepSize=0.1"},
                       out, err),
              0)
        << err.str();
    EXPECT_EQ(counted.lines, 1u + 1'010'000u);
    EXPECT_GT(counted.writes, 100u); // block by block, not all at once
    const std::size_t time = counted.lastLine.find(",0,") + 3;
    EXPECT_NEAR(std::strtod(counted.lastLine.c_str() + time, nullptr), 100999.9, 1e-6)
        << counted.lastLine;
    fs::remove_all(dir);
}

} // namespace
} // namespace phonaxis
