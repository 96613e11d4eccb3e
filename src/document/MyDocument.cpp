#include "document/MyDocument.h"

#include "document/Configuration.h"
#include "document/FileIO.h"
#include "document/NumberText.h"
#include "document/RateSettings.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <utility>

namespace phonaxis {

namespace {

constexpr const char* kSaveError = "Error in save";

// Channel slots that a new document gives the identity calibration.
constexpr int kCalibratedSlots = 16;

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

MyDocument::MyDocument(Prompts& prompts, AppSettings& settings)
    : m_prompts(prompts), m_settings(settings)
{
    Initilize();
}

void MyDocument::Initilize()
{
    static_cast<DocumentFields&>(*this) = DocumentFields{};
    for (auto& channel : m_Channel) {
        channel = Channels();
    }
    for (int i = 0; i < kCalibratedSlots; ++i) {
        Channels& channel = m_Channel[static_cast<std::size_t>(i)];
        channel.m_dA3Cal = 0.0;
        channel.m_dB2Cal = 0.0;
        channel.m_dC1Cal = 1.0;
        channel.m_dD0Cal = 0.0;
        channel.SetUnit("normalized");
    }
    // The rate-dependent settings of a new document follow the process-wide
    // analysis rate, the rate of the last file that set them: a file opened
    // at that rate keeps them, so they must be the ones computed for it.
    recomputeRateDependentSettings(m_settings.m_dLastAnalysisSampleRate);
    // The application configuration, where there is one, replaces these.
    applyApplicationConfiguration(*this, m_settings);
    m_changeCount = 0;
}

int MyDocument::audioChannelIndex() const
{
    const int count = channelsInUse();
    for (int i = 0; i < count; ++i) {
        if (getChannel(i).m_nChannelType == 1) {
            return i;
        }
    }
    return -1;
}

bool MyDocument::validateMenuItem(const std::string& command) const
{
    static const char* const needData[] = {"saveDocument:",          "saveDocumentAs:",
                                           "_fileSaveCopyAs:",       "_fileExportChannelAs:",
                                           "_fileSaveConfiguration:", "revertDocumentToSaved:"};
    static const char* const needSelection[] = {"_fileSaveSelectionAs:",
                                                "_fileExportChannelSelectionAs:"};
    for (const char* name : needData) {
        if (command == name) {
            return m_bHaveData;
        }
    }
    for (const char* name : needSelection) {
        if (command == name) {
            return m_bHaveData && m_bHaveSelection;
        }
    }
    return true;
}

// --- reference levels ----------------------------------------------------------

void MyDocument::setReferenceAll()
{
    if (!m_bHaveData) {
        return;
    }
    const int count = channelsInUse();
    for (int i = 0; i < count; ++i) {
        Channels& channel = getChannel(i);
        if (channel.m_nChannelType != 1) {
            channel.SetRefrenceValue_Time(channel.m_dMarkerTime);
        }
    }
    for (int i = 0; i < count; ++i) {
        recomputeIntensity(i);
    }
}

void MyDocument::setReferenceFor(int index)
{
    if (!m_bHaveData || index < 0 || index >= channelsInUse()) {
        return;
    }
    Channels& channel = getChannel(index);
    channel.SetRefrenceValue_Time(channel.m_dMarkerTime);
    recomputeIntensity(index);
}

void MyDocument::setReferenceAllZero()
{
    if (!m_bHaveData) {
        return;
    }
    const int count = channelsInUse();
    for (int i = 0; i < count; ++i) {
        getChannel(i).m_dReference = 0.0;
    }
    for (int i = 0; i < count; ++i) {
        recomputeIntensity(i);
    }
}

void MyDocument::recomputeIntensity(int index)
{
    // Intensity is measured about the reference and over the samples, so a
    // reference change or an edit makes the track stale.
    Channels& channel = getChannel(index);
    if (channel.m_bHaveIntensity) {
        channel.CalculateIntensity();
    }
}

// --- opening -----------------------------------------------------------------

std::string MyDocument::ShortRecording::text() const
{
    std::string text = "file holds " + messageNumber(heldSeconds, 2, 1) + " s of the " +
                       messageNumber(declaredSeconds, 2, 1) + " s its header declares";
    for (std::size_t g = 0; g < channels.size(); ++g) {
        const ChannelGroup& group = channels[g];
        if (g > 0) {
            text += ", and " + messageNumber(group.heldSeconds, 2, 1) + " s of the " +
                    messageNumber(group.declaredSeconds, 2, 1) + " s";
        }
        text += group.indices.size() == 1 ? " for channel " : " for channels ";
        for (std::size_t k = 0; k < group.indices.size(); ++k) {
            if (k > 0) {
                text += k + 1 == group.indices.size() ? " and " : ", ";
            }
            text += std::to_string(group.indices[k]);
        }
    }
    return text;
}

std::optional<MyDocument::ShortRecording>
MyDocument::ShortRecording::of(std::span<const std::size_t> held,
                               std::span<const std::size_t> declared,
                               std::span<const double> rateHz)
{
    ShortRecording note;
    bool everyChannel = true;
    for (std::size_t c = 0; c < held.size(); ++c) {
        if (held[c] >= declared[c]) {
            everyChannel = false;
            continue;
        }
        const double heldS = static_cast<double>(held[c]) / rateHz[c];
        const double declaredS = static_cast<double>(declared[c]) / rateHz[c];
        // Durations are compared as they are told: channels of an
        // interleaved block cut inside a frame differ by one sample.
        const auto told = [](double seconds) { return messageNumber(seconds, 2, 1); };
        if (note.channels.empty() || told(note.channels.back().heldSeconds) != told(heldS) ||
            told(note.channels.back().declaredSeconds) != told(declaredS)) {
            note.channels.push_back({{}, heldS, declaredS});
        }
        note.channels.back().indices.push_back(static_cast<int>(c));
    }
    if (note.channels.empty()) {
        return std::nullopt;
    }
    note.heldSeconds = note.channels.front().heldSeconds;
    note.declaredSeconds = note.channels.front().declaredSeconds;
    // Every channel cut at the same time is the file cut short as a whole.
    if (everyChannel && note.channels.size() == 1) {
        note.channels.clear();
    }
    return note;
}

bool MyDocument::readFromData(ByteView bytes, const std::string& /*typeName*/)
{
    // The readers in the order they are tried; the first that recognises the
    // content wins. Each declines without touching the document.
    static constexpr Reader kOpenOrder[] = {
        &MyDocument::Read_KVQ_MAC_FileType,      &MyDocument::Read_KVQ_PC_FileType,
        &MyDocument::Read_KVQ_PC_Float_FileType, &MyDocument::Read_USB2_Float_FileType,
        &MyDocument::Read_OLD_PC_FileType,       &MyDocument::Read_OLD_MAC_FileType,
        &MyDocument::Read_WAVE_FileType,         &MyDocument::Read_AIFF_FileType,
    };
    // A reader that opens the file leaves its own note of a short file; the
    // note of an earlier read must not stay with the new one.
    const std::optional<ShortRecording> earlier = std::exchange(m_shortRecording, std::nullopt);
    for (const Reader reader : kOpenOrder) {
        if ((this->*reader)(bytes)) {
            m_changeCount = 0;
            return true;
        }
    }
    m_shortRecording = earlier;
    return false;
}

void MyDocument::becomeFreshRecording(std::int32_t channels)
{
    m_nNumofChannels = channels;
    if (m_nEGGChannelIndex >= m_nNumofChannels) {
        m_nEGGChannelIndex = -1;
    }
    m_bHaveData = true;
    m_bHaveMarker = false;
    m_bHaveSelection = false;
    m_bNewFile = true;
    m_bForeignFile = false;
    m_nFileFormat = FileFormat::kPcFloat;
    adoptAnalysisSampleRate(true);
    m_changeCount = 1;
}

void MyDocument::adoptAnalysisSampleRate(bool trackLastRate)
{
    const Channels& first = getChannel(0);
    m_dAnalysisSampleRate = first.m_dSampleRate;
    m_dwAnalysisFileLength = first.m_dwFileLength;
    m_dAnalysisLengthMS = first.m_dLengthMS;
    if (trackLastRate && m_dAnalysisSampleRate != m_settings.m_dLastAnalysisSampleRate) {
        m_settings.m_dLastAnalysisSampleRate = m_dAnalysisSampleRate;
        recomputeRateDependentSettings(m_dAnalysisSampleRate);
        // New documents take their settings from the application
        // configuration: it follows the new rate too, so that the next file
        // at this rate, opened in a new window, is analysed with them.
        patchApplicationConfiguration(m_settings, [this](Configuration& record) {
            record.putDouble(ConfigOffset::kAnalysisSampleRate, m_dAnalysisSampleRate);
            for (const std::size_t offset :
                 {ConfigOffset::kFFTAppliedWindowLength, ConfigOffset::kFFTfrequencyRange,
                  ConfigOffset::kLPCNumberofCoefficients, ConfigOffset::kSpecfrequencyRange,
                  ConfigOffset::kSpecLPCNumberofCoefficients}) {
                putDocumentSettings(record, *this, offset, offset);
            }
        });
    }
}

void applyRateDependentSettings(DocumentFields& fields, double rateHz)
{
    // Readers never hand over a rate that is not positive and finite.
    if (!(rateHz > 0.0) || !std::isfinite(rateHz)) {
        return;
    }
    const RateSettings settings = rateSettingsFor(rateHz);
    fields.m_nFFTfrequencyRange = settings.frequencyRange;
    fields.m_nSpecfrequencyRange = settings.spectrogramRange;
    fields.m_nFFTAppliedWindowLength = settings.appliedWindow;
    fields.m_nLPCNumberofCoefficients = settings.lpcOrder;
    fields.m_nSpecLPCNumberofCoefficients = settings.specLpcOrder;
}

DocumentFields newDocumentFields(double rateHz)
{
    DocumentFields fields;
    applyRateDependentSettings(fields, rateHz);
    return fields;
}

void MyDocument::recomputeRateDependentSettings(double rate)
{
    applyRateDependentSettings(*this, rate);
}

// --- saving ------------------------------------------------------------------

std::optional<Bytes> MyDocument::dataOfType(const std::string& typeName)
{
    const std::string type = lowerCase(typeName);
    if (type == "wav") {
        return Save_WAVE_FileType_float(false, -1, m_nNumofChannels, false);
    }
    if (type == "aiff" || type == "aif") {
        m_prompts.alert("Saving Failed.", "AIFF/AIF file types savings are not implemented.", "OK");
        return std::nullopt;
    }
    if (type == "pmf") {
        return nativeBytes(false);
    }
    return std::nullopt;
}

std::optional<Bytes> MyDocument::nativeBytes(bool selection)
{
    // A recording read from a USB2 float file is saved in that format again;
    // everything else becomes KVQ_PC_FLOAT. A selection is saved only from the
    // two float formats.
    if (m_nFileFormat == FileFormat::kUsb2Float) {
        return Save_KVQ_PC_USB2_Float_FileType(selection);
    }
    if (selection && m_nFileFormat != FileFormat::kPcFloat) {
        return std::nullopt;
    }
    return Save_KVQ_PC_Float_FileType(selection);
}

std::string MyDocument::homeDirectory()
{
    const char* home = std::getenv("HOME");
    return (home && *home) ? std::string(home) : std::string("/");
}

std::vector<std::string> MyDocument::channelTitles() const
{
    std::vector<std::string> titles;
    const int count = channelsInUse();
    for (int i = 0; i < count; ++i) {
        titles.push_back(getChannel(i).GetTitle());
    }
    return titles;
}

bool MyDocument::writeChosenFile(const std::string& path, const Bytes& bytes)
{
    std::string error;
    if (!writeFileAtomically(path, bytes, error)) {
        m_prompts.alert(kSaveError, "File did not save.\n" + error, "OK");
        return false;
    }
    return true;
}

void MyDocument::fileSaveCopyAs()
{
    if (!m_bHaveData) {
        return;
    }
    const auto path = m_prompts.savePanel({"save", "pmf", "copyof.pmf", homeDirectory()});
    if (!path) {
        return;
    }
    if (const auto bytes = nativeBytes(false)) {
        writeChosenFile(*path, *bytes);
    } else {
        m_prompts.alert(kSaveError, "File did not save.", "OK");
    }
}

void MyDocument::fileSaveSelectionAs()
{
    if (!m_bHaveData || !m_bHaveSelection) {
        return;
    }
    m_settings.saveContext = {"selection", -1};
    if (const auto path = m_prompts.savePanel({"save", "pmf", "selection", homeDirectory()})) {
        didEndSaveFiles(*path);
    }
}

void MyDocument::fileExportChannelAs()
{
    if (!m_bHaveData) {
        return;
    }
    const int channel = m_prompts.chooseChannel("Select a channel to export as wav", channelTitles());
    if (channel < 0) {
        return;
    }
    m_settings.saveContext = {"export", channel};
    if (const auto path = m_prompts.savePanel({"save", "wav", "Export_channel_", homeDirectory()})) {
        didEndSaveFiles(*path);
    }
}

void MyDocument::fileExportChannelSelectionAs()
{
    if (!m_bHaveData || !m_bHaveSelection) {
        return;
    }
    const int channel = m_prompts.chooseChannel("Select a channel to export as wav", channelTitles());
    if (channel < 0) {
        return;
    }
    m_settings.saveContext = {"exportsel", channel};
    if (const auto path = m_prompts.savePanel({"save", "wav", "Export_chanSel_", homeDirectory()})) {
        didEndSaveFiles(*path);
    }
}

void MyDocument::saveBeforeRecord(const std::function<void()>& doRecord)
{
    const auto path = m_prompts.savePanel({"save", "pmf", "", homeDirectory()});
    if (!path) {
        return;
    }
    const auto bytes = nativeBytes(false);
    if (!bytes) {
        m_prompts.alert(kSaveError, "File did not save.", "OK");
        return;
    }
    if (writeChosenFile(*path, *bytes) && doRecord) {
        doRecord();
    }
}

void MyDocument::didEndSaveFiles(const std::string& path)
{
    const SaveContext context = m_settings.saveContext;
    std::optional<Bytes> bytes;
    if (context.kind == "selection") {
        bytes = nativeBytes(true);
    } else if (context.kind == "export") {
        bytes = Save_WAVE_FileType_float(false, context.channel, 1, true);
    } else if (context.kind == "exportsel") {
        bytes = Save_WAVE_FileType_float(true, context.channel, 1, true);
    } else {
        m_prompts.alert(kSaveError, "Wrong save file method.", "OK");
        return;
    }
    // Writes are atomic replaces: when nothing was produced, nothing was
    // written, and a file the user chose to replace is left as it was.
    if (bytes) {
        writeChosenFile(path, *bytes);
    }
}

} // namespace phonaxis
