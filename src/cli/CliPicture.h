#pragma once

#include "display/PictureExport.h"

#include <QSize>

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace phonaxis::cli {

// phonaxis-cli picture FILE --out OUT [--from MS --to MS] [--width W --height H]
//                       [--fit] [--aiff-channel K]
//
// Draws the main view of FILE as the picture export does (every shown
// channel in its strip on white, no cursor or selection) over the whole
// recording or from MS to MS, in a view of W × H pixels (default 1600 × 900),
// and writes it by OUT's extension: .png, .tif/.tiff, .pdf or .svg (vector).
// With --fit the shown channels' strips share the view's height equally
// instead of taking the heights the file keeps.
// `args` are the words after "picture". Returns kExitOk, kExitFailure when
// FILE cannot be read or OUT cannot be written, or kExitUsage for a wrong
// command line (told in one line on `err`). Runs without a display: it
// starts its own Qt application on the offscreen platform unless the process
// already has one or names another platform.
int pictureCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The default size of an analysis graph picture (--width, --height), pixels:
// the same as the main view's picture.
inline constexpr int kGraphPictureWidthPx = 1600;
inline constexpr int kGraphPictureHeightPx = 900;

// Checks where a picture goes: OUT must end in .png, .tif/.tiff, .pdf or .svg (and
// not be a link to another kind of file) and must not be one of `inputs`.
// kExitOk, or kExitUsage told in one line on `err`.
int checkPictureOutput(const std::string& outPath, const std::vector<std::string>& inputs,
                       std::ostream& err);

// Draws `draw` in a view of `sizePx` and writes it by OUT's extension: PNG,
// LZW TIFF or a vector PDF or SVG, replacing OUT only once the whole file is
// written. Runs without a display, as pictureCommand. kExitOk; kExitUsage
// for a size phonaxis-cli does not draw; kExitFailure when drawing or
// writing fails (told on `err`).
// The GUI application that measuring text and drawing a picture of type
// `pictureType` ("png", "tif", "pdf") need, alive as long as this object
// (none is made when the process has one already). A graph whose layout is
// measured before it is drawn keeps one around both.
class PictureApplication {
public:
    explicit PictureApplication(const std::string& pictureType);
    ~PictureApplication();
    PictureApplication(const PictureApplication&) = delete;
    PictureApplication& operator=(const PictureApplication&) = delete;
    // Whether fonts and painting can be used.
    static bool usable();

private:
    struct Gui;
    std::unique_ptr<Gui> m_gui;
};

int writeGraphPicture(const std::string& outPath, QSize sizePx, const GraphDrawing& draw,
                      std::ostream& err);

} // namespace phonaxis::cli
