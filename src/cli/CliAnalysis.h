#pragma once

#include "cli/CliTable.h"
#include "log/LogRecord.h"

#include <functional>
#include <iosfwd>
#include <vector>

namespace phonaxis::cli {

struct Options;

// The headless analyses of phonaxis-cli. Each opens its FILE into a batch
// document at a new document's settings, applies --config and then each
// --set, runs the engine behind the matching analysis window and prints the
// records that window would log: the measurement-log file format, a JSON
// array with --json (each record's named fields beside its values), or with
// --table and --csv one header of named columns and a row per record.
// Return the exit status (kExitOk, kExitFailure for a file that cannot be
// read or analysed, kExitUsage for a wrong command line, told in one line on
// `err`).

// FFT/LPC formants and bandwidths of the audio channel (or --channel N) at
// --at or over --from/--to; with --frame the spectrum level every
// m_nFFTFrameInterval Hz.
int spectrumCommand(const Options& options, std::ostream& out, std::ostream& err);
// The formant tracks of the audio channel every m_dLogStepSize ms over the
// whole channel or --from/--to; --png writes the image with its formant dots.
int spectrogramCommand(const Options& options, std::ostream& out, std::ostream& err);
// Time, pitch and intensity of every pitch frame within the whole channel or
// --from/--to, voiced or not. The named rows time frame k at k × the pitch
// step and give the intensity in dB re full scale from the samples.
int pitchCommand(const Options& options, std::ostream& out, std::ostream& err);
// The glottal cycles of EGG channel --channel.
int eggCommand(const Options& options, std::ostream& out, std::ostream& err);

// The records in the output the options ask for: the named table with
// --table or --csv, JSON objects with the named fields beside their values
// with --json, else the measurement-log format. `named` makes the table (a
// row per record) only for the outputs that show it. Returns kExitOk.
int printRecords(const std::vector<LogRecord>& records, const std::function<Table()>& named,
                 const Options& options, std::ostream& out);

// The records as the log window saves them: header line and one row each.
void writeLogText(const std::vector<LogRecord>& records, std::ostream& out);
// The records as a JSON array of {"name", "definition", "values"}, each
// object followed by the fields of the matching row of `named`, if given.
void writeLogJson(const std::vector<LogRecord>& records, std::ostream& out,
                  const Table* named = nullptr);

} // namespace phonaxis::cli
