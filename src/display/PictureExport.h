#pragma once

// Pictures of the main view outside its window: images (TIFF, PNG), PDF
// and SVG files and printed pages. Each draws the channels exactly as the view's
// DrawView does, on white, without the view's overlays (cursor, marker,
// selection, play position).
//
// The strips are laid out for the picture's own size with
// MainViewModel::SetupDisplay, and an optional page (a stretch in ms) is put
// on every channel. Both are done on the document's own channels and undone
// before the function returns, so the window showing the document keeps its
// strips and pages. That makes every function here main-thread only: no
// other code may read the document while a picture is being drawn.

#include "display/MainViewRenderer.h"

#include <QImage>
#include <QRectF>
#include <QSize>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QPainter;
class QPrinter;

namespace phonaxis {

class MyDocument;
struct SavePanelRequest;

// A stretch of the recording shown in a picture, in ms from its start.
// Usable when both times are finite, fromMs >= 0 and fromMs < toMs. Every
// channel's page becomes fromMs … toMs converted at its own sample rate, so
// all strips share one time axis; a stretch may run past a channel's end.
struct PicturePage {
    double fromMs = 0.0;
    double toMs = 0.0;

    bool usable() const;
};

// Sizes a picture may have, in view pixels. The strips' coordinates are
// 16-bit, and an image is held whole in memory (4 bytes a pixel).
inline constexpr int kMaxPictureSidePx = 16384;
inline constexpr long long kMaxPicturePixels = 64LL * 1024 * 1024;

// True when `sizePx` is non-empty and within the limits above.
bool pictureSizeUsable(QSize sizePx);

// Draws the picture of a view of `viewSizePx` into `painter` at its origin,
// in view pixels, on a white background: the strips laid out for that size,
// over `page` when given (else each channel's current page). Only the
// background for a document without data; nothing at all for an unusable
// size or page.
void drawPicture(QPainter& painter, const MyDocument& document, QSize viewSizePx,
                 const std::optional<PicturePage>& page = std::nullopt,
                 const MainViewSummaries* summaries = nullptr);

// The same picture fitted into `target` (device pixels of `painter`'s
// current coordinates), scaled uniformly with the view's proportions, at
// the target's top-left corner and in vector form: the drawing is recorded
// and replayed, so text keeps its size relative to the strips at any device
// resolution. Draws nothing for an empty target.
void drawPictureScaled(QPainter& painter, const QRectF& target, const MyDocument& document,
                       QSize viewSizePx, const std::optional<PicturePage>& page = std::nullopt,
                       const MainViewSummaries* summaries = nullptr);

// The picture as an image of `sizePx` (RGB, white background). A null image
// for an unusable size or page, or when memory runs out.
QImage renderPicture(const MyDocument& document, QSize sizePx,
                     const std::optional<PicturePage>& page = std::nullopt,
                     const MainViewSummaries* summaries = nullptr);

// Write `image` as a TIFF (LZW-compressed) or PNG file at `path`, replacing
// it only once the whole file is written (writeFileAtomically). On failure
// return false, leave any old file as it was and set `error` to a sentence
// for the user.
bool writeTiff(const QImage& image, const std::string& path, std::string& error);
bool writePng(const QImage& image, const std::string& path, std::string& error);

// Writes the picture of a view of `viewSizePx` as a one-page PDF file at
// `path`, in vector form: the page is the view's size at 96 pixels per inch
// and the drawing is the view's, scaled to it. Written atomically; failures
// as for writeTiff (an unusable size or page is one).
bool writePdf(const MyDocument& document, QSize viewSizePx, const std::optional<PicturePage>& page,
              const std::string& path, std::string& error,
              const MainViewSummaries* summaries = nullptr);

// Prints the picture of a view of `viewSizePx` on one page of `printer`,
// scaled to fit its printable area with the view's proportions. The printer
// is used as it is set up (a printer whose output format is PDF writes a
// file). False when the printer cannot start a page or the size or page is
// unusable.
bool printDocument(const MyDocument& document, QPrinter& printer, QSize viewSizePx,
                   const std::optional<PicturePage>& page = std::nullopt,
                   const MainViewSummaries* summaries = nullptr);

// --- pictures of any graph -----------------------------------------------------
//
// The analysis windows' graphs are exported, printed and drawn headless the
// same way as the main view: a drawing function paints a view of the given
// size in view pixels, from its origin, and these functions put it on an
// image, a PDF page or a printer page.

// Paints a view of `viewSizePx` into the painter, in view pixels.
using GraphDrawing = std::function<void(QPainter& painter, QSize viewSizePx)>;

// The drawing on a white image of `sizePx`; null for an unusable size or
// when memory runs out.
QImage renderGraph(QSize sizePx, const GraphDrawing& draw);
// The drawing fitted into `target` in vector form, as drawPictureScaled.
void drawGraphScaled(QPainter& painter, const QRectF& target, QSize viewSizePx,
                     const GraphDrawing& draw);
// A one-page vector PDF of the drawing at 96 view pixels per inch, written
// atomically; failures as for writeTiff.
bool writeGraphPdf(QSize viewSizePx, const GraphDrawing& draw, const std::string& path,
                   std::string& error);
// The drawing on one page of `printer`, fitted to its printable area. False
// when the printer cannot start a page or the size is unusable.
bool printGraph(QPrinter& printer, QSize viewSizePx, const GraphDrawing& draw);

// A one-page vector SVG of the drawing, its size and view box the view's
// pixels, written atomically; failures as for writeTiff.
bool writeGraphSvg(QSize viewSizePx, const GraphDrawing& draw, const std::string& path,
                   std::string& error);

// The caption line of the main view's picture: `fileName` (without its
// folder), the stretch shown (`page`, else the first shown channel's page)
// and how many channels are shown.
QString mainViewCaption(const MyDocument& document, const std::string& fileName,
                        const std::optional<PicturePage>& page = std::nullopt);
// The height a caption line takes at the top of a picture of `viewSizePx`.
int pictureCaptionHeight(QSize viewSizePx);

// The main view's picture as a drawing (see drawPicture). With a
// `caption`, the caption line (what the picture shows) takes the top of
// the picture, in the graphs' text size, and the view is drawn below it.
// `document` must outlive the drawing.
GraphDrawing pictureDrawing(const MyDocument& document,
                            const std::optional<PicturePage>& page = std::nullopt,
                            const MainViewSummaries* summaries = nullptr,
                            const QString& caption = {});

// --- picture files by type -------------------------------------------------------

// The kinds of picture file: PNG and LZW TIFF images, vector PDF and SVG.
enum class PictureType { Png, Pdf, Tiff, Svg };

// The picture type a path's extension names (".png", ".pdf", ".tif" or
// ".tiff", ".svg", in any case); nothing for another extension or none.
std::optional<PictureType> pictureTypeOf(const std::string& path);

// The extensions (lower case, without the dot) a save panel offers for a
// picture, in the order offered: "png", "pdf", "tif", "svg".
std::vector<std::string> pictureExtensions();

// The save panel of Save as Picture…: the picture types offered, the
// proposed name "pict.tif" (TIFF chosen first), `directory`, the button
// "Save". The path it returns names its type by its extension.
SavePanelRequest pictureSavePanel(const std::string& directory);

// Draws `draw` in a view of `viewSizePx` and writes it at `path` in the type
// its extension names (an image of that size for PNG and TIFF, vector
// pages of that size for PDF and SVG), atomically. False with `error` set
// for the user when the extension names no picture type, or drawing or
// writing fails.
bool writePictureFile(const std::string& path, QSize viewSizePx, const GraphDrawing& draw,
                      std::string& error);

} // namespace phonaxis
