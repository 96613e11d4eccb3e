#pragma once

#include <pybind11/pybind11.h>

namespace phonaxis::python {

// The recording and channel classes and phonaxis._core.open_recording.
void bindRecording(pybind11::module_& module);

// Marks a call inside the core, with the GIL released, for
// phonaxis._core.engines_running(): the count of such calls at this moment.
class EngineCall {
public:
    EngineCall();
    ~EngineCall();
    EngineCall(const EngineCall&) = delete;
    EngineCall& operator=(const EngineCall&) = delete;

    static int running();
};

} // namespace phonaxis::python
