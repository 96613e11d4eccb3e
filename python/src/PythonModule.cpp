// phonaxis._core: the extension under the Python package. It runs
// phonaxis-cli's commands in-process, so that every analysis is the CLI's
// own (the same opening of the file, settings, channel choice, engines and
// table), and opens recordings whose channels numpy views without a copy.
// The GIL is released while a command runs.

#include "PythonBindings.h"

#include "cli/CliCommands.h"

#include <pybind11/stl.h>

#include <atomic>
#include <sstream>
#include <string>
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
    module.def("engines_running", &EngineCall::running,
               "How many calls into the core are running at this moment (GIL released).");
    bindRecording(module);
}
