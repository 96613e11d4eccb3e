// Byte-by-byte builders of the native files. The offsets are written out
// here on their own (not taken from the readers' constants), so that a
// reader and these builders cannot share a mistake.

#include "NativeTestFiles.h"

#include "document/FileIO.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>

namespace phonaxis::testfiles {

namespace {

class Writer {
public:
    Writer(FileBytes& out, std::size_t base, bool bigEndian)
        : m_out(out), m_base(base), m_big(bigEndian)
    {
    }

    void u32(std::size_t at, std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i) {
            const int shift = m_big ? 24 - 8 * i : 8 * i;
            m_out[m_base + at + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(v >> shift);
        }
    }
    void i32(std::size_t at, std::int32_t v) { u32(at, static_cast<std::uint32_t>(v)); }
    void f64(std::size_t at, double v)
    {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        for (int i = 0; i < 8; ++i) {
            const int shift = m_big ? 56 - 8 * i : 8 * i;
            m_out[m_base + at + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(bits >> shift);
        }
    }
    void i16(std::size_t at, std::int16_t v)
    {
        const auto bits = static_cast<std::uint16_t>(v);
        m_out[m_base + at] = static_cast<std::uint8_t>(m_big ? bits >> 8 : bits);
        m_out[m_base + at + 1] = static_cast<std::uint8_t>(m_big ? bits : bits >> 8);
    }
    // Text into a field of `size` bytes, cut to size - 1 bytes, NUL after.
    void text(std::size_t at, std::size_t size, const std::string& s)
    {
        const std::size_t n = std::min(s.size(), size - 1);
        std::memcpy(m_out.data() + m_base + at, s.data(), n);
    }

private:
    FileBytes& m_out;
    std::size_t m_base;
    bool m_big;
};

void append(FileBytes& out, const FileBytes& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

void appendFloats(FileBytes& out, const float* values, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const auto bits = std::bit_cast<std::uint32_t>(values[i]);
        for (int b = 0; b < 4; ++b) {
            out.push_back(static_cast<std::uint8_t>(bits >> (8 * b)));
        }
    }
}

void appendWords(FileBytes& out, const std::vector<std::int16_t>& words, bool bigEndian)
{
    const std::size_t at = out.size();
    out.resize(at + 2 * words.size());
    Writer w(out, at, bigEndian);
    for (std::size_t i = 0; i < words.size(); ++i) {
        w.i16(2 * i, words[i]);
    }
}

std::string defaultSignature(KvqKind kind)
{
    switch (kind) {
    case KvqKind::Mac:
        return "KVQ_Mac";
    case KvqKind::Pc:
        return "KVQ_PC";
    case KvqKind::PcFloat:
        return "KVQ_PC_FLOAT";
    case KvqKind::Usb2Float:
        return "USB2_FLOAT";
    }
    return {};
}

} // namespace

FileBytes kvqRecord(const KvqChannel& c, bool bigEndian)
{
    FileBytes out(248, 0);
    Writer w(out, 0, bigEndian);
    const bool floats = !c.floats.empty() || c.words.empty();
    const double samples =
        c.sampleCount.value_or(static_cast<double>(floats ? c.floats.size() : c.words.size()));
    w.f64(0, c.durationMs);
    w.f64(8, c.sampleRate);
    w.f64(16, samples);
    w.f64(24, c.reference);
    w.f64(32, c.a3);
    w.f64(40, c.b2);
    w.f64(48, c.c1);
    w.f64(56, c.d0);
    w.i32(64, c.channelType);
    w.i32(68, c.resolution);
    w.i32(72, c.dataType);
    w.i32(76, c.height);
    w.i32(80, c.order);
    w.i32(84, c.gain);
    w.i32(88, c.filterRate);
    w.i32(92, c.labelCount.value_or(static_cast<std::int32_t>(c.labels.size())));
    w.i32(96, c.drawReference);
    w.i32(100, c.anchor);
    w.i32(104, c.red);
    w.i32(108, c.green);
    w.i32(112, c.blue);
    w.text(116, 64, c.title);
    w.text(180, 68, c.unit);
    return out;
}

FileBytes kvqLabel(const KvqLabel& l, bool bigEndian)
{
    FileBytes out(368, 0);
    Writer w(out, 0, bigEndian);
    w.f64(0, l.timeMs);
    w.f64(8, l.verticalFactor);
    w.i32(16, l.justification);
    w.i32(20, l.addLine);
    w.i32(24, l.left);
    w.i32(28, l.top);
    w.i32(32, l.right);
    w.i32(36, l.bottom);
    w.i32(40, l.red);
    w.i32(44, l.green);
    w.i32(48, l.blue);
    w.i32(52, l.pointSize);
    w.i32(68, l.weight);
    out[72] = l.italicAngle;
    w.text(80, 32, l.family);
    w.text(112, 256, l.text);
    return out;
}

FileBytes makeKvq(const KvqLayout& layout)
{
    const bool big = layout.kind == KvqKind::Mac;
    const bool floatKind = layout.kind == KvqKind::PcFloat || layout.kind == KvqKind::Usb2Float;
    FileBytes out(512, 0);
    const std::string signature = layout.signature.value_or(defaultSignature(layout.kind));
    std::memcpy(out.data(), signature.data(), std::min<std::size_t>(signature.size(), 511));
    const auto n =
        layout.declaredChannels.value_or(static_cast<std::int32_t>(layout.channels.size()));
    Writer header(out, 0, big);
    header.i32(floatKind ? 32 : 8, n);

    for (const KvqChannel& c : layout.channels) {
        append(out, kvqRecord(c, big));
        for (const KvqLabel& l : c.labels) {
            append(out, kvqLabel(l, big));
        }
        if (layout.kind == KvqKind::PcFloat) {
            appendFloats(out, c.floats.data(), c.floats.size());
        } else if (!floatKind) {
            appendWords(out, c.words, big);
        }
    }
    if (layout.kind == KvqKind::Usb2Float && !layout.channels.empty()) {
        const std::size_t frames =
            layout.usb2Frames.value_or(layout.channels.front().floats.size());
        for (std::size_t f = 0; f < frames; ++f) {
            for (const KvqChannel& c : layout.channels) {
                const float v = f < c.floats.size() ? c.floats[f] : 0.0f;
                appendFloats(out, &v, 1);
            }
        }
    }
    return out;
}

FileBytes makeOldPmf(const OldPmfLayout& layout)
{
    const bool header10 =
        layout.kind == OldPmfKind::PcHeader10 || layout.kind == OldPmfKind::MacVersion20;
    const bool big =
        layout.kind == OldPmfKind::MacHeader100 || layout.kind == OldPmfKind::MacVersion20;
    std::int32_t defaultVersion = 100;
    switch (layout.kind) {
    case OldPmfKind::PcHeader10:
        defaultVersion = 10;
        break;
    case OldPmfKind::PcHeader100:
        defaultVersion = 100;
        break;
    case OldPmfKind::MacHeader100:
        defaultVersion = 200;
        break;
    case OldPmfKind::MacVersion20:
        defaultVersion = 20;
        break;
    }
    // Header10: 6484 bytes. Header100: 1608 bytes and a 120-byte block.
    FileBytes out(header10 ? 6484 : 1728, 0);
    Writer w(out, 0, big);
    std::int32_t presentCount = 0;
    for (std::size_t j = 1; j < layout.slots.size(); ++j) {
        presentCount += layout.slots[j].present ? 1 : 0;
    }
    const std::size_t transducerSamples =
        layout.transducers.empty() ? 0 : layout.transducers.front().size();
    w.i32(0, layout.headerSize.value_or(header10 ? 6484 : 1608));
    w.i32(4, layout.version.value_or(defaultVersion));
    w.i32(8, layout.declaredChannels.value_or(1 + presentCount));
    w.i32(16, layout.audioRate);
    w.i32(20, layout.transducerRate);
    w.i32(24, layout.audioBytes.value_or(static_cast<std::int32_t>(2 * layout.audio.size())));
    w.i32(28, layout.transducerBytes.value_or(static_cast<std::int32_t>(2 * transducerSamples)));

    const std::size_t flags = header10 ? 184 : 172;
    const std::size_t gains = header10 ? 252 : 240;
    const std::size_t titles = header10 ? 320 : 308;
    const std::size_t units = header10 ? 660 : 648;
    for (std::size_t j = 0; j < layout.slots.size(); ++j) {
        const OldPmfSlot& s = layout.slots[j];
        // The flag word holds 1 in its lowest byte.
        w.i32(flags + 4 * j, (j == 0 || s.present) ? 1 : 0);
        w.i32(gains + 4 * j, s.gain);
        w.text(titles + 20 * j, 20, s.title);
        w.text(units + 20 * j, 20, s.unit);
        if (!header10) {
            w.text(988 + 9 * j, 9, s.reference);
            w.text(1141 + 9 * j, 9, s.b2);
            w.text(1294 + 9 * j, 9, s.c1);
            w.text(1447 + 9 * j, 9, s.d0);
        }
    }
    if (layout.kind == OldPmfKind::MacHeader100) {
        w.i32(1608 + 100, layout.macLabelRecords);
        if (layout.macLabelRecords > 0) {
            out.resize(out.size() + 140 * static_cast<std::size_t>(layout.macLabelRecords), 0xA5);
        }
    }
    appendWords(out, layout.audio, big);
    for (const auto& t : layout.transducers) {
        appendWords(out, t, big);
    }
    return out;
}

bool writeNativeSeedCorpus(const std::string& dir, std::string& error)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        error = "Cannot create the folder " + dir + ": " + ec.message();
        return false;
    }

    auto floatChannel = [](int index, std::size_t samples) {
        KvqChannel c;
        c.sampleRate = index == 0 ? 22050.0 : 11025.0;
        c.durationMs = static_cast<double>(samples) * 1000.0 / c.sampleRate;
        c.channelType = index == 0 ? 1 : 0;
        c.order = index + 1;
        c.anchor = index == 0 ? 1 : 0;
        c.title = "Chan " + std::to_string(index);
        for (std::size_t i = 0; i < samples; ++i) {
            c.floats.push_back(static_cast<float>(i % 17) / 16.0f - 0.5f);
        }
        return c;
    };
    auto wordChannel = [](int index, std::size_t samples) {
        KvqChannel c;
        c.sampleRate = 10000.0;
        c.durationMs = static_cast<double>(samples) * 0.1;
        c.height = 80 + index;
        for (std::size_t i = 0; i < samples; ++i) {
            c.words.push_back(static_cast<std::int16_t>(static_cast<int>(i) * 300 - 6000));
        }
        return c;
    };
    KvqLabel label;
    label.timeMs = 1.5;
    label.verticalFactor = 0.25;
    label.left = 10;
    label.top = 20;
    label.right = 60;
    label.bottom = 38;
    label.red = 200;
    label.weight = 9;
    label.italicAngle = 0x88;
    label.text = "onset";

    std::vector<std::pair<std::string, FileBytes>> files;
    {
        KvqLayout l;
        l.kind = KvqKind::PcFloat;
        l.channels = {floatChannel(0, 100), floatChannel(1, 50)};
        l.channels[0].labels = {label};
        files.emplace_back("two-channels.kvqfloat.pmf", makeKvq(l));
        l.channels[1].sampleCount = 5000.0; // the file ends long before
        files.emplace_back("truncated.kvqfloat.pmf", makeKvq(l));
        l.channels[1].sampleCount.reset();
        l.channels[0].labelCount = 0x7FFFFFFF;
        files.emplace_back("label-count-huge.kvqfloat.pmf", makeKvq(l));
    }
    {
        KvqLayout l;
        l.kind = KvqKind::Usb2Float;
        l.channels = {floatChannel(0, 80), floatChannel(1, 80), floatChannel(2, 80)};
        l.channels[2].labels = {label};
        files.emplace_back("three-channels.usb2.pmf", makeKvq(l));
        FileBytes partial = makeKvq(l);
        partial.resize(partial.size() - 6); // a partial last frame
        files.emplace_back("partial-frame.usb2.pmf", partial);
    }
    {
        KvqLayout l;
        l.kind = KvqKind::Mac;
        l.channels = {wordChannel(0, 60), wordChannel(1, 40)};
        l.channels[1].labels = {label};
        files.emplace_back("two-channels.kvqmac.pmf", makeKvq(l));
        l.kind = KvqKind::Pc;
        files.emplace_back("two-channels.kvqpc.pmf", makeKvq(l));
        l.declaredChannels = 21;
        files.emplace_back("twenty-one.kvqpc.pmf", makeKvq(l));
    }
    {
        OldPmfLayout l;
        l.kind = OldPmfKind::PcHeader100;
        l.slots[0].title = "Audio";
        l.slots[0].reference = "0.5";
        l.slots[1].present = true;
        l.slots[1].title = "Flow";
        l.slots[1].c1 = "2.5";
        l.audio.assign(200, 1000);
        l.transducers = {std::vector<std::int16_t>(100, -500)};
        files.emplace_back("header100.pc.pmf", makeOldPmf(l));
        l.kind = OldPmfKind::MacHeader100;
        l.macLabelRecords = 2;
        files.emplace_back("header100.mac.pmf", makeOldPmf(l));
    }

    for (const auto& [name, content] : files) {
        const std::string path = (fs::path(dir) / name).string();
        if (!writeFileAtomically(path, content, error)) {
            return false;
        }
    }
    return true;
}

} // namespace phonaxis::testfiles
