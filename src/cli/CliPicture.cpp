#include "cli/CliPicture.h"

#include "cli/CliCommands.h"
#include "display/MainViewLayout.h"
#include "display/MainViewModel.h"
#include "display/PictureExport.h"
#include "document/AutomaticPrompts.h"
#include "document/FileIO.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace phonaxis::cli {

namespace {

constexpr int kDefaultWidthPx = 1600;
constexpr int kDefaultHeightPx = 900;

struct PictureOptions {
    std::vector<std::string> positional;
    std::optional<std::string> outPath;
    std::optional<double> fromMs;
    std::optional<double> toMs;
    int widthPx = kDefaultWidthPx;
    int heightPx = kDefaultHeightPx;
    int aiffChannel = 1;
    bool fit = false; // --fit: the shown channels' strips share the height
};

bool parseNumber(const std::string& text, double& value)
{
    const char* last = text.data() + text.size();
    const auto result = std::from_chars(text.data(), last, value);
    return result.ec == std::errc() && result.ptr == last && std::isfinite(value);
}

bool parseNumber(const std::string& text, int& value)
{
    const char* last = text.data() + text.size();
    const auto result = std::from_chars(text.data(), last, value);
    return result.ec == std::errc() && result.ptr == last;
}

// Reads the words after "picture"; on a mistake writes it and returns false.
bool parsePictureOptions(const std::vector<std::string>& args, PictureOptions& options,
                         std::ostream& err)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takesValue = arg == "--out" || arg == "--from" || arg == "--to" ||
                                arg == "--width" || arg == "--height" || arg == "--aiff-channel";
        if (arg == "--fit") {
            options.fit = true;
            continue;
        }
        if (!takesValue) {
            if (arg.size() > 1 && arg[0] == '-') {
                usage(err, "picture does not take " + arg);
                return false;
            }
            options.positional.push_back(arg);
            continue;
        }
        if (i + 1 >= args.size()) {
            usage(err, arg + " needs a value");
            return false;
        }
        const std::string& value = args[++i];
        if (arg == "--out") {
            if (value.empty()) {
                usage(err, "--out needs a file name");
                return false;
            }
            options.outPath = value;
        } else if (arg == "--from" || arg == "--to") {
            double ms = 0.0;
            if (!parseNumber(value, ms) || ms < 0.0) {
                usage(err, arg + " takes a time in ms, not \"" + value + "\"");
                return false;
            }
            (arg == "--from" ? options.fromMs : options.toMs) = ms;
        } else if (arg == "--aiff-channel") {
            if (!parseNumber(value, options.aiffChannel) || options.aiffChannel < 1) {
                usage(err, "--aiff-channel takes a channel number, not \"" + value + "\"");
                return false;
            }
        } else {
            int& size = arg == "--width" ? options.widthPx : options.heightPx;
            if (!parseNumber(value, size) || size < 1 || size > kMaxPictureSidePx) {
                usage(err, arg + " takes a whole number of pixels from 1 to " +
                               std::to_string(kMaxPictureSidePx) + ", not \"" + value + "\"");
                return false;
            }
        }
    }
    return true;
}

// The Qt application painting needs, made for the picture command only: a
// process that already has one (a test, the desktop application) keeps it.
// Without a platform named in the environment it is the offscreen one, so
// the command runs without a display.
//
// A command-line process often runs without a session's runtime folder; Qt
// then warns about XDG_RUNTIME_DIR on stderr, where phonaxis-cli's own
// messages go. That one warning is dropped while the application lives;
// every other message goes where it went before.
//
// PNG, PDF and SVG need no image format plugin (their writers are Qt's own), yet
// the first image written makes Qt load every plugin it can find (TIFF,
// JPEG, colour management and more): for those types the application is
// told of no plugin folder once its platform is loaded, which spares a
// picture that start-up.
class HeadlessGui {
public:
    explicit HeadlessGui(const std::string& pictureType)
    {
        if (QCoreApplication::instance() != nullptr) {
            return;
        }
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        s_previousHandler = qInstallMessageHandler(&HeadlessGui::handleMessage);
        m_application = std::make_unique<QGuiApplication>(s_argc, s_argv);
        if (pictureType == "png" || pictureType == "pdf" || pictureType == "svg") {
            m_pluginFolders = QCoreApplication::libraryPaths();
            QCoreApplication::setLibraryPaths({});
        }
    }
    ~HeadlessGui()
    {
        // The folders are the process's, not the application's: a picture
        // drawn later (of any type) finds its plugins again.
        if (m_pluginFolders) {
            QCoreApplication::setLibraryPaths(*m_pluginFolders);
        }
        m_application.reset();
        qInstallMessageHandler(s_previousHandler);
    }
    HeadlessGui(const HeadlessGui&) = delete;
    HeadlessGui& operator=(const HeadlessGui&) = delete;

    // Fonts and painting need a GUI application, not a bare core one.
    static bool usable()
    {
        return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    }

private:
    static void handleMessage(QtMsgType type, const QMessageLogContext& context,
                              const QString& message)
    {
        if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR"))) {
            return;
        }
        if (s_previousHandler != nullptr) {
            s_previousHandler(type, context, message);
        } else {
            std::fputs(qPrintable(qFormatLogMessage(type, context, message) + '\n'), stderr);
        }
    }

    static inline QtMessageHandler s_previousHandler = nullptr;
    // The application keeps references to its arguments for its lifetime.
    static inline int s_argc = 1;
    static inline char s_name[] = "phonaxis-cli";
    static inline char* s_argv[] = {s_name, nullptr};
    std::unique_ptr<QGuiApplication> m_application;
    std::optional<QStringList> m_pluginFolders;
};

// The longest channel in use, in ms: the whole recording's length.
double recordingLengthMs(const MyDocument& document)
{
    double longest = 0.0;
    for (int i = 0; i < document.channelsInUse(); ++i) {
        const double lengthMs = document.getChannel(i).m_dLengthMS;
        longest = std::isfinite(lengthMs) ? std::max(longest, lengthMs) : longest;
    }
    return longest;
}

// Shares `heightPx` out among the shown channels' strips, so that they fill
// the picture however many are shown (the layout stacks each shown channel
// at its own height, each followed by a gap). Below the strips stays the
// room a single channel leaves for the time axis. Only the batch document,
// thrown away after drawing, changes.
void fitStrips(MyDocument& document, int heightPx)
{
    int shown = 0;
    for (int i = 0; i < document.channelsInUse(); ++i) {
        shown += document.getChannel(i).m_bShow ? 1 : 0;
    }
    if (shown == 0) {
        return;
    }
    const int room = heightPx - MainViewModel::kSingleStripBottomGapPx;
    const int height = std::max(0, (room - shown * g_nDelta) / shown);
    for (int i = 0; i < document.channelsInUse(); ++i) {
        Channels& channel = document.getChannel(i);
        if (channel.m_bShow) {
            channel.m_nHeigth = height;
        }
    }
}

std::string msText(double ms)
{
    return messageNumber(ms) + " ms";
}

bool isPictureType(const std::string& path)
{
    return pictureTypeOf(path).has_value();
}

} // namespace

struct PictureApplication::Gui {
    explicit Gui(const std::string& pictureType) : gui(pictureType) {}
    HeadlessGui gui;
};

PictureApplication::PictureApplication(const std::string& pictureType)
    : m_gui(std::make_unique<Gui>(pictureType))
{
}

PictureApplication::~PictureApplication() = default;

bool PictureApplication::usable()
{
    return HeadlessGui::usable();
}

int checkPictureOutput(const std::string& outPath, const std::vector<std::string>& inputs,
                       std::ostream& err)
{
    const std::string type = fileExtension(outPath);
    if (!isPictureType(outPath) || writtenExtension(outPath) != type) {
        return usage(err, "cannot write \"" + outPath +
                              "\": pictures are written as .png, .tif/.tiff, .pdf or .svg files "
                              "(and not through a link to another kind of file)");
    }
    return checkOutputIsNoInput(outPath, inputs, err);
}

int writeGraphPicture(const std::string& outPath, QSize sizePx, const GraphDrawing& draw,
                      std::ostream& err)
{
    if (!pictureSizeUsable(sizePx)) {
        return usage(err, "a picture of " + std::to_string(sizePx.width()) + " x " +
                              std::to_string(sizePx.height()) +
                              " pixels is larger than phonaxis-cli draws");
    }
    const std::string type = fileExtension(outPath);
    const HeadlessGui gui(type);
    if (!HeadlessGui::usable()) {
        return failure(err, "pictures cannot be drawn in this process (no GUI application)");
    }
    std::string error;
    if (!writePictureFile(outPath, sizePx, draw, error)) {
        return failure(err, error);
    }
    return kExitOk;
}

int pictureCommand(const std::vector<std::string>& args, std::ostream& /*out*/, std::ostream& err)
{
    PictureOptions options;
    if (!parsePictureOptions(args, options, err)) {
        return kExitUsage;
    }
    if (options.positional.size() != 1) {
        return usage(err, "picture takes one FILE (phonaxis-cli --help tells more)");
    }
    if (!options.outPath) {
        return usage(err, "picture needs --out OUT.png, OUT.tif, OUT.pdf or OUT.svg");
    }
    const std::string& outPath = *options.outPath;
    const std::string type = fileExtension(outPath);
    if (const int status = checkPictureOutput(outPath, {}, err)) {
        return status;
    }
    if (options.fromMs.has_value() != options.toMs.has_value()) {
        return usage(err, "--from and --to go together");
    }
    if (options.fromMs && !(*options.fromMs < *options.toMs)) {
        return usage(err, "--from must be earlier than --to");
    }
    if (const int status = checkOutputIsNoInput(outPath, options.positional, err)) {
        return status;
    }
    const QSize sizePx(options.widthPx, options.heightPx);
    if (!pictureSizeUsable(sizePx)) {
        return usage(err, "a picture of " + std::to_string(options.widthPx) + " x " +
                              std::to_string(options.heightPx) +
                              " pixels is larger than phonaxis-cli draws");
    }

    const std::string& inPath = options.positional[0];
    AutomaticPrompts prompts(&err, "phonaxis-cli: ", options.aiffChannel);
    auto batch = std::make_unique<BatchDocument>(prompts);
    MyDocument& document = batch->document;
    if (!openDocument(inPath, document, err)) {
        return kExitFailure;
    }
    const double lengthMs = recordingLengthMs(document);
    if (!(lengthMs > 0.0)) {
        return failure(err, "\"" + inPath + "\" has no samples to draw");
    }
    if (options.toMs && *options.toMs > lengthMs) {
        return usage(err, "--to " + msText(*options.toMs) + " is beyond the recording's " +
                              msText(lengthMs));
    }
    const PicturePage page{options.fromMs.value_or(0.0), options.toMs.value_or(lengthMs)};

    const HeadlessGui gui(type);
    if (!HeadlessGui::usable()) {
        return failure(err, "pictures cannot be drawn in this process (no GUI application)");
    }
    // The caption line takes the top of the picture; the strips share the
    // rest.
    if (options.fit) {
        fitStrips(document, options.heightPx - pictureCaptionHeight(sizePx));
    }
    std::string error;
    if (!writePictureFile(outPath, sizePx,
                          pictureDrawing(document, page, nullptr,
                                         mainViewCaption(document, inPath, page)),
                          error)) {
        return failure(err, error);
    }
    return kExitOk;
}

} // namespace phonaxis::cli
