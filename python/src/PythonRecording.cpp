// phonaxis.open: a recording read whole into a batch document, as
// phonaxis-cli opens a file, with each channel's samples handed to numpy as
// a read-only view of the channel's own buffer. The view keeps the
// recording alive, so an array outlives the Recording object it came from.

#include "PythonBindings.h"

#include "cli/CliCommands.h"
#include "document/AutomaticPrompts.h"
#include "document/RecordingReader.h"
#include "model/Channels.h"
#include "model/Labels.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace py = pybind11;

namespace phonaxis::python {

namespace {

// A recording and what its document needs: the prompts that answer the
// readers (their notes, and the messages of the opening, go to `messages`,
// which lives as long as the prompts that write to it) and the settings of
// a new document.
// Nothing changes it after it is open, so views of its samples stay valid
// as long as one of them holds it.
struct OpenedRecording {
    std::string path;
    std::ostringstream messages;
    std::unique_ptr<AutomaticPrompts> prompts;
    std::unique_ptr<cli::BatchDocument> batch;

    const MyDocument& document() const { return batch->document; }
};

using RecordingHandle = std::shared_ptr<OpenedRecording>;

// One channel of an open recording, by index.
struct ChannelHandle {
    RecordingHandle recording;
    int index = 0;

    const Channels& channel() const { return recording->document().getChannel(index); }
};

// Opens `path` as phonaxis-cli opens it, with every channel's samples read.
// The recording, or nothing and the messages saying why; the notes of an
// opened file (a short file) are returned too.
std::tuple<std::optional<RecordingHandle>, std::string> openRecording(const std::string& path)
{
    auto opened = std::make_shared<OpenedRecording>();
    std::ostringstream& err = opened->messages;
    bool ok = false;
    {
        const py::gil_scoped_release released;
        const EngineCall call;
        opened->path = path;
        opened->prompts = std::make_unique<AutomaticPrompts>(&err, "phonaxis-cli: ", 1);
        opened->batch = std::make_unique<cli::BatchDocument>(*opened->prompts);
        MyDocument& document = opened->batch->document;
        RecordingReader reader;
        ok = cli::openRecording(path, reader, document, err);
        for (int c = 0; ok && reader.headerOnly() && c < document.channelsInUse(); ++c) {
            std::string error;
            if (!reader.readSamples(document, c, 0, std::numeric_limits<std::int64_t>::max(),
                                    error)) {
                err << "phonaxis-cli: " << error << "\n";
                ok = false;
            }
        }
    }
    std::string messages = err.str();
    if (!ok) {
        return {std::nullopt, std::move(messages)};
    }
    return {std::move(opened), std::move(messages)};
}

std::vector<ChannelHandle> channelsOf(const RecordingHandle& recording)
{
    std::vector<ChannelHandle> channels;
    for (int c = 0; c < recording->document().channelsInUse(); ++c) {
        channels.push_back({recording, c});
    }
    return channels;
}

// The channel's samples as a read-only float32 array that views its buffer.
py::array samplesOf(const ChannelHandle& handle)
{
    const std::span<const float> samples = handle.channel().samples();
    py::array_t<float> array;
    if (samples.empty()) {
        array = py::array_t<float>(0);
    } else {
        // The array's base holds the recording.
        py::capsule owner(new RecordingHandle(handle.recording),
                          [](void* held) { delete static_cast<RecordingHandle*>(held); });
        array = py::array_t<float>({static_cast<py::ssize_t>(samples.size())},
                                   {static_cast<py::ssize_t>(sizeof(float))}, samples.data(),
                                   owner);
    }
    array.attr("setflags")(py::arg("write") = false);
    return array;
}

// (time_ms, end_ms or None, text) for each label, in the channel's order.
std::vector<std::tuple<double, std::optional<double>, std::string>> labelsOf(
    const ChannelHandle& handle)
{
    std::vector<std::tuple<double, std::optional<double>, std::string>> labels;
    const Channels& channel = handle.channel();
    for (const Labels& label : channel.m_pArrayLabels) {
        labels.emplace_back(label.getLabelTime(),
                            label.hasEndTime() ? std::optional<double>(label.dEndTime)
                                               : std::nullopt,
                            label.getLabelText());
    }
    return labels;
}

} // namespace

void bindRecording(py::module_& module)
{
    py::class_<ChannelHandle>(module, "Channel", "One channel of an open recording.")
        .def_property_readonly(
            "index", [](const ChannelHandle& c) { return c.index; },
            "The channel's index in its recording, counted from 0.")
        .def_property_readonly(
            "path", [](const ChannelHandle& c) { return c.recording->path; },
            "The path of the recording the channel belongs to.")
        .def_property_readonly(
            "title", [](const ChannelHandle& c) { return c.channel().GetTitle(); },
            "The channel's title.")
        .def_property_readonly(
            "unit", [](const ChannelHandle& c) { return c.channel().GetUnit(); },
            "The unit of its calibrated values.")
        .def_property_readonly(
            "type", [](const ChannelHandle& c) { return c.channel().m_nChannelType; },
            "The channel type as the file stores it (1: the audio channel).")
        .def_property_readonly(
            "rate", [](const ChannelHandle& c) { return c.channel().m_dSampleRate; },
            "The sample rate in Hz.")
        .def_property_readonly(
            "length_ms", [](const ChannelHandle& c) { return c.channel().m_dLengthMS; },
            "The channel's length in ms.")
        .def_property_readonly("samples", &samplesOf,
                               "The samples (float32, full scale ±1) as a read-only view "
                               "of the channel's buffer; it keeps the recording open.")
        .def_property_readonly("labels", &labelsOf,
                               "The labels as (time_ms, end_ms or None, text), in order.")
        .def("__repr__", [](const ChannelHandle& c) {
            std::ostringstream text;
            text << "<phonaxis.Channel " << c.index << " \"" << c.channel().GetTitle() << "\", "
                 << c.channel().m_dSampleRate << " Hz, " << c.channel().samples().size()
                 << " samples>";
            return text.str();
        });

    py::class_<OpenedRecording, RecordingHandle>(module, "Recording",
                                                 "A recording opened with phonaxis.open.")
        .def_property_readonly(
            "path", [](const OpenedRecording& r) { return r.path; }, "The path it was opened from.")
        .def_property_readonly(
            "channels", [](const RecordingHandle& r) { return channelsOf(r); },
            "Its channels, in the file's order.")
        .def_property_readonly(
            "audio_channel",
            [](const OpenedRecording& r) -> std::optional<int> {
                const int index = r.document().audioChannelIndex();
                return index >= 0 ? std::optional<int>(index) : std::nullopt;
            },
            "The index of the audio channel the analyses take by default, or None.")
        .def("__len__", [](const OpenedRecording& r) { return r.document().channelsInUse(); })
        .def(
            "__getitem__",
            [](const RecordingHandle& r, int index) {
                const int count = r->document().channelsInUse();
                if (index < 0) {
                    index += count;
                }
                if (index < 0 || index >= count) {
                    throw py::index_error("the recording has " + std::to_string(count) +
                                          " channels (counted from 0)");
                }
                return ChannelHandle{r, index};
            },
            py::arg("index"))
        .def("__repr__", [](const OpenedRecording& r) {
            return "<phonaxis.Recording \"" + r.path + "\", " +
                   std::to_string(r.document().channelsInUse()) + " channels>";
        });

    module.def("open_recording", &openRecording, py::arg("path"),
               "Opens `path` with every channel's samples: (the recording or None, messages).");
}

} // namespace phonaxis::python
