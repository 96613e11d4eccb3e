// phonaxis._core: the extension under the Python package. It runs
// phonaxis-cli's commands in-process, so that every analysis is the CLI's
// own (the same opening of the file, settings, channel choice, engines and
// table), and opens recordings whose channels numpy views without a copy.
// The GIL is released while a command runs.

#include "PythonBindings.h"

#include "cli/CliCommands.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace py = pybind11;

namespace phonaxis::python {

namespace {

std::atomic<int> g_running{0};

// phonaxis-cli ARGS…: (exit status, what it printed, its messages).
std::tuple<int, py::bytes, std::string> runCli(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    int status = 0;
    {
        const py::gil_scoped_release released;
        const EngineCall call;
        status = cli::run(args, out, err);
    }
    return {status, py::bytes(out.str()), err.str()};
}

// The cells of one CSV line from `at` (advanced past its line break) as
// writeCsv writes them: a cell holding a comma, a quote or a line break is
// quoted, its quotes doubled.
std::vector<std::string> csvLine(std::string_view text, std::size_t& at)
{
    std::vector<std::string> cells(1);
    bool quoted = false;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (quoted) {
            if (c != '"') {
                cells.back() += c;
            } else if (at + 1 < text.size() && text[at + 1] == '"') {
                cells.back() += '"';
                ++at;
            } else {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            cells.emplace_back();
        } else if (c == '\n') {
            ++at;
            break;
        } else {
            cells.back() += c;
        }
    }
    return cells;
}

// phonaxis-cli's --csv table as (name, values) columns in order: `file` and
// `label` as lists of text (None for an empty cell), every other column a
// float64 array (NaN for an empty cell). The numbers are read exactly: the
// CLI writes the shortest text that reads back as its double.
std::vector<std::pair<std::string, py::object>> readTable(const py::bytes& csv)
{
    const std::string_view text = csv;
    std::size_t at = 0;
    const std::vector<std::string> names = csvLine(text, at);
    std::vector<std::vector<std::string>> rows;
    while (at < text.size()) {
        rows.push_back(csvLine(text, at));
        if (rows.back().size() != names.size()) {
            throw std::runtime_error("a table row has " + std::to_string(rows.back().size()) +
                                     " cells for " + std::to_string(names.size()) + " columns");
        }
    }
    std::vector<std::pair<std::string, py::object>> columns;
    for (std::size_t c = 0; c < names.size(); ++c) {
        if (names[c] == "file" || names[c] == "label") {
            py::list values;
            for (const auto& row : rows) {
                values.append(row[c].empty() ? py::object(py::none()) : py::str(row[c]));
            }
            columns.emplace_back(names[c], std::move(values));
            continue;
        }
        py::array_t<double> values(static_cast<py::ssize_t>(rows.size()));
        double* out = values.mutable_data();
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const std::string& cell = rows[r][c];
            out[r] = std::numeric_limits<double>::quiet_NaN();
            if (cell.empty()) {
                continue;
            }
            const char* last = cell.data() + cell.size();
            const auto [end, error] = std::from_chars(cell.data(), last, out[r]);
            if (error != std::errc() || end != last) {
                throw std::runtime_error("\"" + cell + "\" in column " + names[c] +
                                         " is not a number");
            }
        }
        columns.emplace_back(names[c], std::move(values));
    }
    return columns;
}

} // namespace

EngineCall::EngineCall()
{
    g_running.fetch_add(1);
}

EngineCall::~EngineCall()
{
    g_running.fetch_sub(1);
}

int EngineCall::running()
{
    return g_running.load();
}

} // namespace phonaxis::python

PYBIND11_MODULE(_core, module)
{
    using namespace phonaxis::python;
    module.doc() = "The core of phonaxis: phonaxis-cli's commands run in-process, and "
                   "recordings opened with their channels' samples.";
    module.def("run_cli", &runCli, py::arg("args"),
               "Runs phonaxis-cli with `args` (without the program name) in this process, "
               "the GIL released: (exit status, standard output as bytes, messages).");
    module.def("read_table", &readTable, py::arg("csv"),
               "phonaxis-cli's --csv table as (name, values) columns: file and label as "
               "text, the others float64 arrays with NaN for an empty cell.");
    module.def("engines_running", &EngineCall::running,
               "How many calls into the core are running at this moment (GIL released).");
    bindRecording(module);
}
