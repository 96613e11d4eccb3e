#include "NativeTestFiles.h"
#include "document/EditClipboard.h"
#include "document/EditSession.h"
#include "document/MyDocument.h"
#include "document/NativeFormat.h"
#include "support/ChannelFixtures.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace phonaxis {
namespace {

using test::ScriptedPrompts;
namespace fs = std::filesystem;

constexpr double kRateHz = 10000.0; // 0.1 ms per sample

// Sample i of channel c: c * 100000 + i, exact in a float.
float sampleValue(int c, std::size_t i) { return float(c * 100000 + int(i)); }

std::vector<float> samplesOf(const Channels& channel)
{
    const auto view = channel.samples();
    return {view.begin(), view.end()};
}

std::vector<std::pair<double, std::string>> labelsOf(const Channels& channel)
{
    std::vector<std::pair<double, std::string>> out;
    for (const Labels& label : channel.m_pArrayLabels) {
        out.emplace_back(label.dTime, label.getLabelText());
    }
    return out;
}

void addLabel(Channels& channel, double timeMs, const std::string& text)
{
    Labels label;
    label.dTime = timeMs;
    label.setText(text);
    channel.Add_Label_Cocoa(label);
}

class EditingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("phonaxis-edit-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        // Backups are made only in a folder private to this user.
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::replace);
        m_document = std::make_unique<MyDocument>(m_prompts, m_settings);
    }
    void TearDown() override
    {
        m_session.reset();
        fs::remove_all(m_dir);
    }

    EditSession& session()
    {
        if (!m_session) {
            m_session = std::make_unique<EditSession>(*m_document, m_prompts, m_clipboard,
                                                      "take 1.pmf", m_dir);
        }
        return *m_session;
    }

    // One channel per length, all at kRateHz, in format `format`.
    void fill(const std::vector<std::size_t>& lengths, std::int32_t format = FileFormat::kPcFloat)
    {
        MyDocument& document = *m_document;
        document.m_nNumofChannels = int(lengths.size());
        for (std::size_t c = 0; c < lengths.size(); ++c) {
            std::vector<float> values(lengths[c]);
            for (std::size_t i = 0; i < lengths[c]; ++i) {
                values[i] = sampleValue(int(c), i);
            }
            Channels& channel = document.getChannel(int(c));
            ASSERT_TRUE(channel.setData(values.data(), double(lengths[c])));
            channel.m_dSampleRate = kRateHz;
            channel.m_dwFileLength = double(lengths[c]);
            channel.m_dLengthMS = double(lengths[c]) * 1000.0 / kRateHz;
            channel.m_nChannelType = c == 0 ? 1 : 0;
            channel.SetTitle("Chan " + std::to_string(c));
        }
        document.m_nFileFormat = format;
        document.m_bHaveData = true;
        document.m_bNewFile = false;
    }

    // Every channel's selection (or, with start == stop, its marker) in
    // samples; `inMs`: from start to stop ms, at each channel's own rate.
    void select(double start, double stop, bool inMs = false)
    {
        for (int c = 0; c < m_document->m_nNumofChannels; ++c) {
            Channels& channel = m_document->getChannel(c);
            const double perMs = channel.m_dSampleRate / 1000.0;
            const double from = inMs ? start * perMs : start;
            const double to = inMs ? stop * perMs : stop;
            channel.m_dDurationStartFile = from;
            channel.m_dDurationStopFile = to;
            channel.m_dDurationStartTime = from / perMs;
            channel.m_dDurationStopTime = to / perMs;
            channel.m_dDurationTime = channel.m_dDurationStopTime - channel.m_dDurationStartTime;
            channel.m_dDurationFile = to - from;
            channel.m_dMarkerFileValue = from;
            channel.m_dMarkerTime = channel.m_dDurationStartTime;
        }
    }

    // A new one-channel document with 100 … 200 selected, no session, no alerts.
    void restart()
    {
        m_session.reset();
        m_document = std::make_unique<MyDocument>(m_prompts, m_settings);
        m_prompts.alerts.clear();
        fill({1000});
        select(100, 200);
    }

    ScriptedPrompts m_prompts;
    AppSettings m_settings;
    EditClipboard m_clipboard;
    fs::path m_dir;
    std::unique_ptr<MyDocument> m_document;
    std::unique_ptr<EditSession> m_session;
};

TEST(PasteHandleFloatTest, InsertsSourceAtIndex)
{
    struct Case {
        std::vector<float> destination;
        std::size_t index;
        std::vector<float> expected;
    };
    const std::vector<float> source = {1, 2, 3};
    const Case cases[] = {
        {{10, 20}, 1, {10, 1, 2, 3, 20}},
        {{10, 20}, 0, {1, 2, 3, 10, 20}},
        {{10, 20}, 2, {10, 20, 1, 2, 3}},
        {{10, 20}, 99, {10, 20, 1, 2, 3}}, // an index past the end appends
        {{}, 0, {1, 2, 3}},
    };
    for (const Case& c : cases) {
        SampleBuffer src, dst;
        ASSERT_TRUE(src.allocate(3));
        std::copy(source.begin(), source.end(), src.data());
        if (!c.destination.empty()) {
            ASSERT_TRUE(dst.allocate(c.destination.size()));
            std::copy(c.destination.begin(), c.destination.end(), dst.data());
        }
        ASSERT_EQ(PasteHandleFloat(dst, src, c.destination.size(), 3, c.index), &dst);
        ASSERT_EQ(dst.size(), c.expected.size() + Channels::kSlackFloats);
        EXPECT_EQ(std::vector<float>(dst.data(), dst.data() + c.expected.size()), c.expected);
        for (std::size_t i = c.expected.size(); i < dst.size(); ++i) {
            EXPECT_EQ(dst[i], 0.0f);
        }
    }

    SampleBuffer empty, dst;
    ASSERT_TRUE(dst.allocate(2));
    dst[0] = 7;
    EXPECT_EQ(PasteHandleFloat(dst, empty, 2, 0, 0), nullptr);
    EXPECT_EQ(dst.size(), 2u);
    EXPECT_EQ(dst[0], 7.0f);
}

TEST_F(EditingTest, CopyTakesTruncatedSelectionAndInnerLabels)
{
    fill({5000, 150});
    Channels& first = m_document->getChannel(0);
    addLabel(first, 10.04, "at start"); // exactly the start time: not inside
    addLabel(first, 15.0, "inside");
    addLabel(first, 30.0, "after");
    select(100.4, 200.9); // the second channel holds only 150 samples

    session().EditCopy();
    ASSERT_TRUE(m_clipboard.hasContent());
    EXPECT_EQ(m_clipboard.channelCount(), 2);
    EXPECT_EQ(m_clipboard.fileFormat(), FileFormat::kPcFloat);

    const Channels& copied = m_clipboard.channel(0);
    ASSERT_EQ(copied.m_dwFileLength, 100.0);
    EXPECT_EQ(copied.samples().front(), sampleValue(0, 100));
    EXPECT_EQ(copied.samples().back(), sampleValue(0, 199));
    ASSERT_EQ(labelsOf(copied).size(), 1u);
    EXPECT_NEAR(copied.m_pArrayLabels[0].dTime, 15.0 - 10.04, 1e-9);

    // The short channel's copy stops at its last sample, and its time with it.
    const Channels& shortCopy = m_clipboard.channel(1);
    EXPECT_EQ(shortCopy.m_dwFileLength, 50.0);
    EXPECT_EQ(shortCopy.samples().back(), sampleValue(1, 149));
    EXPECT_NEAR(shortCopy.m_dDurationTime, 15.0 - 10.04, 1e-9);
}

TEST_F(EditingTest, CutAndUndoRestoreSamplesAndLabels)
{
    for (const std::int32_t format : {FileFormat::kPcFloat, FileFormat::kUsb2Float}) {
        SCOPED_TRACE(format);
        m_session.reset();
        m_document = std::make_unique<MyDocument>(m_prompts, m_settings);
        fill({5000, 5000, 5000}, format);
        Channels& first = m_document->getChannel(0);
        addLabel(first, 150.0, "inside");
        addLabel(first, 300.0, "later");
        addLabel(first, 200.0, "at stop");
        // Hidden channels, the first among them, are kept by the backup too.
        m_document->getChannel(0).m_bShow = false;
        m_document->getChannel(2).m_bShow = false;
        const auto before = samplesOf(m_document->getChannel(1));
        const auto labelsBefore = labelsOf(first);
        select(1000, 2000);

        ASSERT_TRUE(session().validateEditCommand("_EditCut:", true));
        const EditOutcome cut = session().EditCut();
        EXPECT_TRUE(cut.edited && cut.clearSelection && cut.redraw);
        EXPECT_EQ(m_document->getChannel(1).m_dwFileLength, 4000.0);
        EXPECT_EQ(m_document->getChannel(1).samples()[1000], sampleValue(1, 2000));
        EXPECT_EQ(m_document->getChannel(1).m_hData[4000], 0.0f); // slack after the samples
        EXPECT_DOUBLE_EQ(m_document->getChannel(1).m_dLengthMS, 400.0);
        const std::vector<std::pair<double, std::string>> cutLabels = {{200.0, "later"},
                                                                         {100.0, "at stop"}};
        EXPECT_EQ(labelsOf(first), cutLabels);
        EXPECT_FALSE(m_document->getChannel(0).m_bShow); // the backup holds them, still hidden
        EXPECT_FALSE(m_document->getChannel(2).m_bShow);
        ASSERT_TRUE(session().validateEditCommand("_EditUndo:", true));

        const EditOutcome undo = session().EditUndo();
        EXPECT_TRUE(undo.edited && undo.redraw);
        EXPECT_EQ(samplesOf(m_document->getChannel(1)), before);
        EXPECT_EQ(labelsOf(m_document->getChannel(0)), labelsBefore);
        EXPECT_EQ(m_document->m_nNumofChannels, 3);
        EXPECT_FALSE(m_document->getChannel(0).m_bShow);
        EXPECT_FALSE(m_document->getChannel(2).m_bShow);
        EXPECT_EQ(m_document->m_nFileFormat, format);
        EXPECT_FALSE(session().validateEditCommand("_EditUndo:", true));
        EXPECT_FALSE(session().validateEditCommand("_EditSomethingElse:", true));
    }
    EXPECT_TRUE(m_prompts.alerts.empty());
}

TEST_F(EditingTest, PasteInsertsAtMarkerOrReplacesSelection)
{
    fill({1000, 1000});
    addLabel(m_document->getChannel(0), 20.0, "copied");
    select(100, 300);
    session().EditCopy(); // 200 samples, 20 ms
    addLabel(m_document->getChannel(0), 90.0, "later");

    struct Case {
        bool overSelection;
        double start, stop;
        std::size_t length;
        std::vector<std::pair<double, std::string>> labels;
    };
    const Case cases[] = {
        {false, 500, 500, 1200, {{20.0, "copied"}, {110.0, "later"}, {60.0, "copied"}}},
        {true, 500, 800, 900, {{20.0, "copied"}, {80.0, "later"}, {60.0, "copied"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.overSelection);
        const auto before = samplesOf(m_document->getChannel(0));
        const auto labelsBefore = labelsOf(m_document->getChannel(0));
        select(c.start, c.stop);
        const EditOutcome outcome = session().EditPaste(c.overSelection);
        EXPECT_TRUE(outcome.edited && outcome.clearSelection);
        const auto after = samplesOf(m_document->getChannel(0));
        ASSERT_EQ(after.size(), c.length);
        EXPECT_EQ(after[499], sampleValue(0, 499));
        EXPECT_EQ(after[500], sampleValue(0, 100));
        EXPECT_EQ(after[699], sampleValue(0, 299));
        EXPECT_EQ(after[700], sampleValue(0, std::size_t(c.stop)));
        EXPECT_EQ(labelsOf(m_document->getChannel(0)), c.labels);
        EXPECT_DOUBLE_EQ(m_document->getChannel(0).m_dLengthMS, double(c.length) / 10.0);

        session().EditUndo();
        EXPECT_EQ(samplesOf(m_document->getChannel(0)), before);
        EXPECT_EQ(labelsOf(m_document->getChannel(0)), labelsBefore);
    }
}

TEST_F(EditingTest, MismatchedPasteIsRefusedAndKeepsTheUndo)
{
    fill({1000, 1000});
    select(100, 200);
    session().EditCut();
    ASSERT_TRUE(session().undoAvailable());
    const auto afterCut = samplesOf(m_document->getChannel(0));

    struct Case {
        int channels;
        double rateHz;
        const char* alert;
    };
    const Case cases[] = {
        {3, kRateHz, "The channel numbers are not the same. Pasting is NOT available."},
        {2, 44100.0, "The channel sample rates are not the same. Pasting is NOT available."},
    };
    for (const Case& c : cases) {
        MyDocument other(m_prompts, m_settings);
        other.m_nNumofChannels = c.channels;
        other.m_bHaveData = true;
        for (int i = 0; i < c.channels; ++i) {
            other.getChannel(i).m_dSampleRate = c.rateHz;
        }
        ASSERT_TRUE(m_clipboard.copySelection(other));
        m_prompts.alerts.clear();
        EXPECT_FALSE(session().EditPaste(false).edited);
        ASSERT_EQ(m_prompts.alerts.size(), 1u);
        EXPECT_EQ(m_prompts.alerts[0].title, c.alert);
        EXPECT_EQ(m_prompts.alerts[0].defaultButton, "Cancel");
        EXPECT_EQ(samplesOf(m_document->getChannel(0)), afterCut);
        EXPECT_TRUE(session().undoAvailable());
    }
}

TEST_F(EditingTest, PasteIntoEmptyDocumentCopiesChannels)
{
    fill({400, 400, 400}, FileFormat::kUsb2Float);
    select(100, 150);
    session().EditCopy();

    MyDocument empty(m_prompts, m_settings);
    EditSession target(empty, m_prompts, m_clipboard, "Untitled", m_dir);
    EXPECT_TRUE(target.validateEditCommand("_EditPaste:", false));
    EXPECT_TRUE(target.EditPaste(false).edited);
    EXPECT_EQ(empty.m_nNumofChannels, 3);
    EXPECT_EQ(empty.m_nFileFormat, FileFormat::kUsb2Float);
    EXPECT_TRUE(empty.m_bHaveData);
    EXPECT_EQ(samplesOf(empty.getChannel(2)).size(), 50u);
    EXPECT_EQ(empty.getChannel(2).samples()[0], sampleValue(2, 100));
    EXPECT_FALSE(target.undoAvailable());
}

TEST_F(EditingTest, ClearFillsWithReferenceWithinTheSamples)
{
    fill({300, 120});
    m_document->getChannel(0).m_dReference = 0.25;
    m_document->getChannel(1).m_dReference = 0.5;
    select(100.5, 200.5); // past the end of the second channel

    EXPECT_TRUE(session().EditClear().edited);
    const auto first = samplesOf(m_document->getChannel(0));
    const auto second = samplesOf(m_document->getChannel(1));
    ASSERT_EQ(first.size(), 300u);
    ASSERT_EQ(second.size(), 120u);
    EXPECT_EQ(first[99], sampleValue(0, 99));
    EXPECT_EQ(first[100], 0.25f);
    EXPECT_EQ(first[200], 0.25f); // below the stop position 200.5
    EXPECT_EQ(first[201], sampleValue(0, 201));
    EXPECT_EQ(second[119], 0.5f);
    EXPECT_EQ(m_document->getChannel(1).m_hData[120], 0.0f); // slack untouched
}

// A backup that cannot be kept private (a file, a folder others can reach, a
// link, another user's folder) asks to go on without undo, leaving nothing.
TEST_F(EditingTest, FailedBackupAsksWhetherToContinue)
{
    const fs::path privateFolder = m_dir / "private";
    const auto folderWith = [](fs::perms perms) {
        return [perms](const fs::path& path) {
            fs::create_directory(path);
            fs::permissions(path, perms, fs::perm_options::replace);
        };
    };
    folderWith(fs::perms::owner_all)(privateFolder);
    const auto file = [](const fs::path& path) { std::ofstream(path) << "x"; };
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
        int kind;
        int reply;
    };
    std::vector<Case> cases = {
        {"a file", file, EditKind::kCut, 0},
        {"a file", file, EditKind::kCut, 1},
        {"a file", file, EditKind::kClear, 0},
        {"a file", file, EditKind::kClear, 1},
        {"shared by everyone", folderWith(fs::perms::all), EditKind::kCut, 0},
        {"readable by the group",
         folderWith(fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec),
         EditKind::kCut, 0},
        {"readable by others",
         folderWith(fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec),
         EditKind::kCut, 0},
        {"a link to a private folder",
         [&](const fs::path& path) { fs::create_directory_symlink(privateFolder, path); },
         EditKind::kCut, 0},
    };
    if (::geteuid() == 0) {
        cases.push_back({"another user's",
                         [&](const fs::path& path) {
                             folderWith(fs::perms::owner_all)(path);
                             ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
                         },
                         EditKind::kCut, 0});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << ", reply " << c.reply);
        const fs::path folder = m_dir / "blocked";
        fs::remove_all(folder);
        c.make(folder);
        restart();
        const auto descriptors = [] {
            return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
        };
        const auto openBefore = descriptors();
        EditSession blocked(*m_document, m_prompts, m_clipboard, "doc", folder);
        m_prompts.alertReplies = {c.reply};
        const EditOutcome outcome =
            c.kind == EditKind::kCut ? blocked.EditCut() : blocked.EditClear();

        const bool edited = c.reply == 1;
        ASSERT_EQ(m_prompts.alerts.size(), 1u);
        EXPECT_EQ(m_prompts.alerts[0].title, "Do you wish to continue without undo capability?");
        // The reason follows on a line of its own.
        const std::string lead = "Unable to create a backup copy. Undo not available.\n";
        EXPECT_EQ(m_prompts.alerts[0].message.substr(0, lead.size()), lead);
        EXPECT_GT(m_prompts.alerts[0].message.size(), lead.size() + 10);
        EXPECT_EQ(outcome.edited, edited);
        EXPECT_EQ(m_document->changeCount() > 0, edited);
        EXPECT_EQ(m_document->getChannel(0).samples()[150] != sampleValue(0, 150), edited);
        EXPECT_FALSE(blocked.undoAvailable());
        EXPECT_TRUE(blocked.backupPath().empty());
        EXPECT_TRUE(!fs::is_directory(folder) || fs::is_empty(folder));
        EXPECT_TRUE(fs::is_empty(privateFolder));
        EXPECT_EQ(descriptors(), openBefore) << "a refused folder is left open";
    }
}

TEST_F(EditingTest, UnreadableBackupLeavesDocumentUnchanged)
{
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> spoil;
    };
    const Case cases[] = {
        {"cut short", [](const fs::path& backup) {
             std::ofstream(backup, std::ios::binary | std::ios::trunc) << "KVQ_PC_FLOAT";
         }},
        {"opened to others", [](const fs::path& backup) {
             fs::permissions(backup, fs::perms::others_read, fs::perm_options::add);
         }},
        {"grown", [](const fs::path& backup) {
             std::ofstream(backup, std::ios::binary | std::ios::app) << "appended";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        session().EditCut();
        const auto afterCut = samplesOf(m_document->getChannel(0));

        c.spoil(session().backupPath());
        EXPECT_FALSE(session().EditUndo().edited);
        ASSERT_EQ(m_prompts.alerts.size(), 1u);
        EXPECT_EQ(m_prompts.alerts[0].title, "temp file read failure.");
        EXPECT_EQ(samplesOf(m_document->getChannel(0)), afterCut);
    }
}

TEST_F(EditingTest, SessionsOfTheSameNameKeepSeparateBackups)
{
    fill({1000});
    select(100, 200);
    session().EditClear();
    EditSession twin(*m_document, m_prompts, m_clipboard, "take 1.pmf", m_dir);
    twin.EditClear();
    EXPECT_NE(session().backupPath(), twin.backupPath());
    EXPECT_EQ(fs::path(session().backupPath()).parent_path(), m_dir);
    EXPECT_TRUE(session().backupPath().ends_with("__##tmp"));
    EditSession slash(*m_document, m_prompts, m_clipboard, "../../etc/x", m_dir);
    slash.EditClear();
    EXPECT_EQ(fs::path(slash.backupPath()).parent_path(), m_dir);
    // A long name is cut before a character that does not fit whole.
    const std::string kept(127, 'a');
    EditSession longName(*m_document, m_prompts, m_clipboard, kept + "\xC3\xA9tude", m_dir);
    longName.EditClear();
    EXPECT_EQ(fs::path(longName.backupPath()).filename().string().substr(0, 128), kept + ".");
}

unsigned modeOf(const fs::path& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777u : 0u;
}

TEST_F(EditingTest, BackupIsAPrivateFileInAPrivateFolder)
{
    fill({1000});
    select(100, 200);
    const fs::path folder = m_dir / "cache" / "Phonaxis" / "tmp"; // none of it exists yet
    auto edits = std::make_unique<EditSession>(*m_document, m_prompts, m_clipboard, "take 1.pmf",
                                               folder);
    edits->EditClear();
    const fs::path first = edits->backupPath();
    EXPECT_EQ(first.parent_path(), folder);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(m_dir / "cache"), 0700u);
    EXPECT_EQ(modeOf(first), 0600u);

    // The next backup replaces it under a new name; closing removes it.
    edits->EditClear();
    EXPECT_NE(edits->backupPath(), first);
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(modeOf(edits->backupPath()), 0600u);
    edits.reset();
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_TRUE(m_prompts.alerts.empty());

    // A umask that takes the owner's write bit too still gives folders the
    // backups can be made in, each of those made on the way as well. The
    // umask is the whole process's: put back at once.
    const fs::path strict = m_dir / "strict" / "Phonaxis" / "tmp";
    const mode_t previous = ::umask(0277);
    EditSession under(*m_document, m_prompts, m_clipboard, "take 1.pmf", strict);
    under.EditClear();
    ::umask(previous);
    for (const fs::path& made : {strict, strict.parent_path(), strict.parent_path().parent_path()}) {
        EXPECT_EQ(modeOf(made), 0700u) << made;
    }
    EXPECT_EQ(fs::path(under.backupPath()).parent_path(), strict);
    EXPECT_TRUE(under.undoAvailable());
    EXPECT_TRUE(m_prompts.alerts.empty());
}

TEST_F(EditingTest, UndoReadsOnlyTheBackupItWrote)
{
    fill({1000});
    addLabel(m_document->getChannel(0), 5.0, "kept");
    const auto before = samplesOf(m_document->getChannel(0));
    select(100, 200);
    session().EditCut();
    const fs::path backup = session().backupPath();

    // A valid native file of 80 samples put in the backup's place.
    MyDocument injected(m_prompts, m_settings);
    injected.m_nNumofChannels = 1;
    injected.m_bHaveData = true;
    test::loadChannel(injected.getChannel(0), std::vector<float>(80, 0.25f), kRateHz);
    injected.getChannel(0).SetTitle("INJECTED");
    std::string error;
    ASSERT_TRUE(writeNativeFile(injected, false, false, (m_dir / "injected.pmf").string(), error))
        << error;
    fs::rename(m_dir / "injected.pmf", backup);

    EXPECT_TRUE(session().EditUndo().edited);
    EXPECT_TRUE(m_prompts.alerts.empty());
    EXPECT_EQ(samplesOf(m_document->getChannel(0)), before);
    EXPECT_EQ(m_document->getChannel(0).GetTitle(), "Chan 0");
    EXPECT_EQ(labelsOf(m_document->getChannel(0)).size(), 1u);
    EXPECT_TRUE(fs::exists(backup)); // not the session's to remove
}

TEST(PrivateTemporaryFolderTest, IsInTheUsersCacheNotInTheSharedTemporaryFolder)
{
    const char* names[] = {"HOME", "XDG_CACHE_HOME"};
    std::optional<std::string> saved[2];
    for (int i = 0; i < 2; ++i) {
        if (const char* value = std::getenv(names[i])) {
            saved[i] = value;
        }
    }
    const fs::path root = fs::temp_directory_path() / "phonaxis-private-folder-test";
    fs::remove_all(root);
    fs::create_directories(root / "home");
    fs::create_directories(root / "cache");
    ::setenv("HOME", (root / "home").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
    EXPECT_EQ(EditSession::applicationTempFolder(), root / "cache" / "Phonaxis" / "tmp");
    ::setenv("XDG_CACHE_HOME", "relative/cache", 1); // not absolute: ignored
    EXPECT_EQ(EditSession::applicationTempFolder(), root / "home" / ".cache" / "Phonaxis" / "tmp");
    ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(EditSession::applicationTempFolder(), root / "home" / ".cache" / "Phonaxis" / "tmp");
    // A home of another user's (a run as root that kept the user's HOME) is
    // not used: folders made there would lock its owner out of them.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown((root / "home").c_str(), 65534, 65534), 0);
        EXPECT_NE(EditSession::applicationTempFolder().string().rfind(root.string(), 0), 0u);
    }
    fs::remove_all(root);
    for (int i = 0; i < 2; ++i) {
        saved[i] ? ::setenv(names[i], saved[i]->c_str(), 1) : ::unsetenv(names[i]);
    }
}

TEST(StaleBackupTest, OnlyBackupsOfRunsThatEndedAreRemoved)
{
    const fs::path folder =
        fs::temp_directory_path() / ("phonaxis-stale-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "shared");
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
    fs::permissions(folder / "shared", fs::perms::all, fs::perm_options::replace);
    constexpr pid_t ended = 2147483647; // no process has the largest id
    const auto backup = [](pid_t pid, const char* tag) {
        return "take.1.wav." + std::to_string(pid) + "." + tag + "__##tmp";
    };
    const std::string removed = backup(ended, "0123456789abcdef");
    const std::string kept[] = {
        backup(::getpid(), "0123456789abcdef"),  // this run's
        backup(::getppid(), "0123456789abcdef"), // a running process's
        backup(ended, "fedcba9876543210"),       // locked by a process in another namespace
        backup(ended, "00000000000000aa"),       // a link
        backup(ended, "short"),                  // not a backup's name
    };
    for (const std::string& name : {removed, kept[0], kept[1], kept[2], kept[4]}) {
        std::ofstream(folder / name) << "backup";
    }
    const int lock = ::open((folder / kept[2]).c_str(), O_RDONLY);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    std::ofstream(folder / "target") << "x";
    fs::create_symlink(folder / "target", folder / kept[3]);
    std::ofstream(folder / "shared" / removed) << "backup"; // others may write there

    EXPECT_EQ(EditSession::removeStaleBackups(folder), 1);
    EXPECT_EQ(EditSession::removeStaleBackups(folder / "shared"), 0);
    EXPECT_FALSE(fs::exists(folder / removed));
    for (const std::string& name : kept) {
        EXPECT_TRUE(fs::exists(fs::symlink_status(folder / name))) << name;
    }
    EXPECT_TRUE(fs::exists(folder / "shared" / removed));
    EXPECT_TRUE(fs::exists(folder / "target"));
    ::close(lock);
    fs::remove_all(folder);
}

// Everything of a document that undo must give back, in words.
std::string documentState(const MyDocument& d)
{
    std::ostringstream s;
    s << std::setprecision(17) << d.m_nNumofChannels << ' ' << d.m_nFileFormat << ' '
      << d.m_bForeignFile << d.m_bNewFile << d.m_bHaveData << ' ' << d.m_dAnalysisSampleRate << ' '
      << d.m_dwAnalysisFileLength << ' ' << d.m_dAnalysisLengthMS;
    for (int i = 0; i < d.m_nNumofChannels; ++i) {
        const Channels& c = d.getChannel(i);
        s << '\n' << c.GetTitle() << '|' << c.GetUnit() << '|' << c.m_dSampleRate << '|'
          << c.m_dwFileLength << '|' << c.m_dLengthMS << '|' << c.m_dReference << '|' << c.m_dA3Cal
          << ',' << c.m_dB2Cal << ',' << c.m_dC1Cal << ',' << c.m_dD0Cal << '|' << c.m_dGain << '|'
          << c.m_dFilterRate << '|' << c.m_nChannelType << c.m_bAnchorChannel << c.m_bShow << '|'
          << c.m_nResolutionBits << ',' << c.m_nDataType << ',' << c.m_nOrder << ',' << c.m_nHeigth
          << '|' << c.m_nColorRed << ',' << c.m_nColorGreen << ',' << c.m_nColorBlue;
        for (const Labels& label : c.m_pArrayLabels) {
            s << "|label " << label.dTime << ' ' << label.getLabelText() << ' '
              << label.mFontColor.red << ' ' << label.mFont.pointSize << ' ' << label.mFont.family;
        }
        for (const float sample : c.samples()) {
            s << ' ' << sample;
        }
    }
    return s.str();
}

TEST_F(EditingTest, UndoGivesBackTheDocumentWhateverItsFormat)
{
    using namespace testfiles;
    WavLayout wav;
    wav.channels = 2;
    wav.sampleRate = 11025;
    AiffLayout aiff;
    aiff.sampleRate = 22050.0;
    KvqLayout kvq;
    kvq.kind = KvqKind::Pc;
    KvqLayout pcFloat;
    for (int c = 0; c < 2; ++c) {
        KvqChannel channel;
        channel.sampleRate = 8000.0;
        channel.durationMs = 375.0;
        channel.title = "Chan " + std::to_string(c);
        for (int i = 0; i < 3000; ++i) {
            channel.words.push_back(static_cast<std::int16_t>(i * (c + 1) - 1500));
            channel.floats.push_back(static_cast<float>(i * (c + 1)) / 4096.0f);
        }
        kvq.channels.push_back(channel);
        pcFloat.channels.push_back(channel);
    }
    // KVQ_PC stands for every integer native layout, old PMF among them.
    const std::pair<const char*, FileBytes> cases[] = {
        {"16-bit WAV", makeWav(wav, exactRamp(3000, 2))},
        {"AIFF", makeAiff(aiff, exactRamp(3000, 1))},
        {"KVQ_PC", makeKvq(kvq)},
        {"KVQ_PC_FLOAT", makeKvq(pcFloat)},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        m_session.reset();
        m_document = std::make_unique<MyDocument>(m_prompts, m_settings);
        ASSERT_TRUE(m_document->readFromData(bytes, ""));
        // What the user may set, some of it kept only roughly by a native file.
        Channels& first = m_document->getChannel(0);
        first.m_dA3Cal = 0.5, first.m_dB2Cal = 0.25, first.m_dC1Cal = 2.0, first.m_dD0Cal = -1.0;
        first.m_dGain = 2.5, first.m_dFilterRate = 1234.5;
        first.SetUnit("Pa");
        addLabel(first, 10.0, "before");
        addLabel(first, 200.0, "inside");
        first.m_pArrayLabels[0].mFontColor.red = 0.3;
        first.m_pArrayLabels[0].mFont.pointSize = 12.5;
        const std::string before = documentState(*m_document);

        select(100.0, 250.0, true);
        ASSERT_TRUE(session().EditCut().edited);
        ASSERT_NE(documentState(*m_document), before);
        ASSERT_TRUE(session().validateEditCommand("_EditUndo:", true));
        EXPECT_TRUE(session().EditUndo().edited);
        EXPECT_EQ(documentState(*m_document), before);
    }
    EXPECT_TRUE(m_prompts.alerts.empty());
}

} // namespace
} // namespace phonaxis
