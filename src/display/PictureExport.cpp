#include "display/PictureExport.h"

#include "display/GraphAxes.h"
#include "display/GraphPrimitives.h"
#include "display/MainViewModel.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "document/Prompts.h"
#include "model/Channels.h"

#include <QBuffer>
#include <QByteArray>
#include <QFontMetrics>
#include <QImageWriter>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPicture>
#include <QPrinter>
#include <QSvgGenerator>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <span>

namespace phonaxis {

namespace {

// View pixels are taken at 96 per inch when the picture goes to paper or PDF.
constexpr double kPointsPerViewPixel = 72.0 / 96.0;

// The fields of one channel that laying out and paging a picture change.
struct ChannelViewState {
    Rect location;
    std::int32_t height = 0;
    double pageMin = 0.0;
    double pageMax = 0.0;
    double pageSize = 0.0;
    double pageTimeMin = 0.0;
    double pageTimeMax = 0.0;
    double pageTimeSize = 0.0;
};

// Saves the view state of every channel slot and puts it back when it goes
// out of scope, whatever happened in between.
class SavedViewState {
public:
    explicit SavedViewState(MyDocument& document) : m_document(document)
    {
        for (int i = 0; i < MyDocument::kChannelSlots; ++i) {
            const Channels& c = document.getChannel(i);
            m_saved[static_cast<std::size_t>(i)] = ChannelViewState{
                c.m_rLocation, c.m_nHeigth,      c.m_dPageMin,     c.m_dPageMax,
                c.m_dPageSize, c.m_dPageTimeMin, c.m_dPageTimeMax, c.m_dPageTimeSize};
        }
    }
    ~SavedViewState()
    {
        for (int i = 0; i < MyDocument::kChannelSlots; ++i) {
            Channels& c = m_document.getChannel(i);
            const ChannelViewState& s = m_saved[static_cast<std::size_t>(i)];
            c.m_rLocation = s.location;
            c.m_nHeigth = s.height;
            c.m_dPageMin = s.pageMin;
            c.m_dPageMax = s.pageMax;
            c.m_dPageSize = s.pageSize;
            c.m_dPageTimeMin = s.pageTimeMin;
            c.m_dPageTimeMax = s.pageTimeMax;
            c.m_dPageTimeSize = s.pageTimeSize;
        }
    }
    SavedViewState(const SavedViewState&) = delete;
    SavedViewState& operator=(const SavedViewState&) = delete;

private:
    MyDocument& m_document;
    std::array<ChannelViewState, MyDocument::kChannelSlots> m_saved;
};

// Puts `page` on every channel in use, converted at the channel's rate. A
// channel whose rate gives no usable page (no rate, or one so large that
// the positions overflow) keeps its page.
void applyPage(MyDocument& document, const PicturePage& page)
{
    for (int i = 0; i < document.channelsInUse(); ++i) {
        Channels& c = document.getChannel(i);
        const double samplesPerMs = c.m_dSampleRate / 1000.0;
        const double lo = page.fromMs * samplesPerMs;
        const double hi = page.toMs * samplesPerMs;
        if (!(std::isfinite(lo) && std::isfinite(hi) && lo >= 0.0 && hi > lo)) {
            continue;
        }
        c.m_dPageMin = lo;
        c.m_dPageMax = hi;
        c.m_dPageSize = hi - lo;
    }
}

// Records the picture as painter commands in view pixels, so that it can be
// replayed at any scale onto a vector device (PDF, printer) with text sized
// as on screen.
QPicture recordGraph(QSize viewSizePx, const GraphDrawing& draw)
{
    QPicture picture;
    QPainter recorder(&picture);
    draw(recorder, viewSizePx);
    recorder.end();
    return picture;
}

bool writeBytes(const QByteArray& bytes, const std::string& path, std::string& error)
{
    return writeFileAtomically(path,
                               std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                         static_cast<std::size_t>(bytes.size())),
                               error);
}

// A vector picture of a view of `viewSizePx` recorded into memory by
// `paint` (false: its device could not be started) and written atomically
// to `path` as a `kind` file ("PDF", "SVG").
bool writeVectorFile(QSize viewSizePx, const char* kind, const std::string& path,
                     std::string& error, const std::function<bool(QIODevice&)>& paint)
{
    if (!pictureSizeUsable(viewSizePx)) {
        error = "The picture's size cannot be drawn.";
        return false;
    }
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!paint(buffer)) {
            error = std::string("The ") + kind + " file could not be started.";
            return false;
        }
    }
    if (bytes.isEmpty()) {
        error = std::string("The ") + kind + " file could not be written.";
        return false;
    }
    return writeBytes(bytes, path, error);
}

bool argumentsUsable(QSize sizePx, const std::optional<PicturePage>& page)
{
    return pictureSizeUsable(sizePx) && (!page || page->usable());
}

// Encodes `image` with Qt's writer for `format` and writes it atomically.
bool writeImage(const QImage& image, const char* format, const char* kind, const std::string& path,
                std::string& error)
{
    if (image.isNull()) {
        error = std::string("There is no picture to save as ") + kind + ".";
        return false;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (std::string(format) == "tif") {
        writer.setCompression(1); // LZW
    }
    if (std::string(format) == "png") {
        // A lighter deflate: a picture is encoded in about half the time
        // for a file about a fifth larger; the pixels are the same.
        writer.setQuality(80);
    }
    if (!writer.write(image)) {
        error = std::string("The picture could not be encoded as ") + kind + ": " +
                writer.errorString().toStdString() + ".";
        return false;
    }
    buffer.close();
    return writeFileAtomically(path,
                               std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                         static_cast<std::size_t>(bytes.size())),
                               error);
}

} // namespace

bool PicturePage::usable() const
{
    return std::isfinite(fromMs) && std::isfinite(toMs) && fromMs >= 0.0 && fromMs < toMs;
}

bool pictureSizeUsable(QSize sizePx)
{
    return !sizePx.isEmpty() && sizePx.width() <= kMaxPictureSidePx &&
           sizePx.height() <= kMaxPictureSidePx &&
           static_cast<long long>(sizePx.width()) * sizePx.height() <= kMaxPicturePixels;
}

void drawPicture(QPainter& painter, const MyDocument& document, QSize viewSizePx,
                 const std::optional<PicturePage>& page, const MainViewSummaries* summaries)
{
    if (!argumentsUsable(viewSizePx, page)) {
        return;
    }
    painter.fillRect(QRect(QPoint(0, 0), viewSizePx), Qt::white);
    if (!document.m_bHaveData) {
        return;
    }
    // Layout and page are changed for this drawing only: the saved state
    // goes back before the function returns. The document object itself is
    // never const (documents are created and owned mutable), so writing its
    // view fields through a cast is defined.
    MyDocument& drawn = const_cast<MyDocument&>(document);
    const SavedViewState saved(drawn);
    MainViewModel layout(drawn);
    layout.SetupDisplay(viewSizePx.width(), viewSizePx.height());
    if (page) {
        applyPage(drawn, *page);
    }
    DrawView(painter, document, viewSizePx, summaries);
}

void drawPictureScaled(QPainter& painter, const QRectF& target, const MyDocument& document,
                       QSize viewSizePx, const std::optional<PicturePage>& page,
                       const MainViewSummaries* summaries)
{
    if (!argumentsUsable(viewSizePx, page)) {
        return;
    }
    drawGraphScaled(painter, target, viewSizePx, pictureDrawing(document, page, summaries));
}

void drawGraphScaled(QPainter& painter, const QRectF& target, QSize viewSizePx,
                     const GraphDrawing& draw)
{
    if (!pictureSizeUsable(viewSizePx) || !(target.width() > 0.0 && target.height() > 0.0) ||
        painter.device() == nullptr) {
        return;
    }
    const QPicture picture = recordGraph(viewSizePx, draw);
    const double scale =
        std::min(target.width() / viewSizePx.width(), target.height() / viewSizePx.height());
    // A picture replays its view pixels at the device's resolution relative
    // to its own (a 1200 dpi PDF page gets 12.5 device pixels per view
    // pixel); the scale left to apply is what remains of `scale`.
    const double dpiX = double(painter.device()->logicalDpiX()) / picture.logicalDpiX();
    const double dpiY = double(painter.device()->logicalDpiY()) / picture.logicalDpiY();
    painter.save();
    painter.setClipRect(
        QRectF(target.topLeft(), QSizeF(viewSizePx.width() * scale, viewSizePx.height() * scale)),
        Qt::IntersectClip);
    painter.translate(target.topLeft());
    painter.scale(scale / dpiX, scale / dpiY);
    painter.drawPicture(0, 0, picture);
    painter.restore();
}

QImage renderPicture(const MyDocument& document, QSize sizePx,
                     const std::optional<PicturePage>& page, const MainViewSummaries* summaries)
{
    if (!argumentsUsable(sizePx, page)) {
        return {};
    }
    return renderGraph(sizePx, pictureDrawing(document, page, summaries));
}

QImage renderGraph(QSize sizePx, const GraphDrawing& draw)
{
    if (!pictureSizeUsable(sizePx)) {
        return {};
    }
    QImage image(sizePx, QImage::Format_RGB32);
    if (image.isNull()) {
        return image;
    }
    image.fill(Qt::white);
    QPainter painter(&image);
    draw(painter, sizePx);
    painter.end();
    return image;
}

bool writeTiff(const QImage& image, const std::string& path, std::string& error)
{
    return writeImage(image, "tif", "TIFF", path, error);
}

bool writePng(const QImage& image, const std::string& path, std::string& error)
{
    return writeImage(image, "png", "PNG", path, error);
}

bool writePdf(const MyDocument& document, QSize viewSizePx, const std::optional<PicturePage>& page,
              const std::string& path, std::string& error, const MainViewSummaries* summaries)
{
    if (!argumentsUsable(viewSizePx, page)) {
        error = "The picture's size or time range cannot be drawn.";
        return false;
    }
    return writeGraphPdf(viewSizePx, pictureDrawing(document, page, summaries), path, error);
}

bool writeGraphPdf(QSize viewSizePx, const GraphDrawing& draw, const std::string& path,
                   std::string& error)
{
    return writeVectorFile(viewSizePx, "PDF", path, error, [&](QIODevice& device) {
        QPdfWriter writer(&device);
        writer.setCreator(QStringLiteral("Phonaxis"));
        const QSizeF pagePoints(viewSizePx.width() * kPointsPerViewPixel,
                                viewSizePx.height() * kPointsPerViewPixel);
        writer.setPageLayout(
            QPageLayout(QPageSize(pagePoints, QPageSize::Point, QString(), QPageSize::ExactMatch),
                        QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        QPainter painter;
        if (!painter.begin(&writer)) {
            return false;
        }
        drawGraphScaled(painter, QRectF(painter.viewport()), viewSizePx, draw);
        painter.end();
        return true;
    });
}

bool printDocument(const MyDocument& document, QPrinter& printer, QSize viewSizePx,
                   const std::optional<PicturePage>& page, const MainViewSummaries* summaries)
{
    if (!argumentsUsable(viewSizePx, page)) {
        return false;
    }
    return printGraph(printer, viewSizePx, pictureDrawing(document, page, summaries));
}

bool printGraph(QPrinter& printer, QSize viewSizePx, const GraphDrawing& draw)
{
    if (!pictureSizeUsable(viewSizePx)) {
        return false;
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        return false;
    }
    // The painter's origin is the printable area's corner; its viewport the
    // printable area in device pixels.
    const QRect area = painter.viewport();
    drawGraphScaled(painter, QRectF(0, 0, area.width(), area.height()), viewSizePx, draw);
    return painter.end();
}

QString mainViewCaption(const MyDocument& document, const std::string& fileName,
                        const std::optional<PicturePage>& page)
{
    GraphCaption caption;
    caption.fileName = fileName;
    int shown = 0;
    for (int i = 0; i < document.channelsInUse(); ++i) {
        const Channels& channel = document.getChannel(i);
        if (!channel.m_bShow) {
            continue;
        }
        if (shown++ == 0 && !page && channel.m_dSampleRate > 0.0) {
            caption.fromMs = channel.m_dPageMin * 1000.0 / channel.m_dSampleRate;
            caption.toMs = channel.m_dPageMax * 1000.0 / channel.m_dSampleRate;
        }
    }
    if (page) {
        caption.fromMs = page->fromMs;
        caption.toMs = page->toMs;
    }
    caption.analysis = shown == 1 ? "1 channel" : std::to_string(shown) + " channels";
    return caption.text();
}

int pictureCaptionHeight(QSize viewSizePx)
{
    const GraphTextScale textScale(viewSizePx);
    return captionLineHeight(QFontMetrics(defaultTextFont()));
}

GraphDrawing pictureDrawing(const MyDocument& document, const std::optional<PicturePage>& page,
                            const MainViewSummaries* summaries, const QString& caption)
{
    return [&document, page, summaries, caption](QPainter& painter, QSize viewSizePx) {
        if (caption.isEmpty()) {
            drawPicture(painter, document, viewSizePx, page, summaries);
            return;
        }
        const GraphTextScale textScale(viewSizePx);
        const int top = pictureCaptionHeight(viewSizePx);
        const QSize below(viewSizePx.width(), viewSizePx.height() - top);
        if (!pictureSizeUsable(viewSizePx) || below.height() <= 0) {
            return;
        }
        painter.fillRect(QRect(QPoint(0, 0), viewSizePx), Qt::white);
        drawCaptionLine(painter, viewSizePx, caption);
        painter.save();
        painter.translate(0, top);
        drawPicture(painter, document, below, page, summaries);
        painter.restore();
    };
}

bool writeGraphSvg(QSize viewSizePx, const GraphDrawing& draw, const std::string& path,
                   std::string& error)
{
    return writeVectorFile(viewSizePx, "SVG", path, error, [&](QIODevice& device) {
        QSvgGenerator generator;
        generator.setOutputDevice(&device);
        generator.setSize(viewSizePx);
        generator.setViewBox(QRect(QPoint(0, 0), viewSizePx));
        generator.setTitle(QStringLiteral("Phonaxis picture"));
        // View pixels at 96 per inch, as the PDF pages.
        generator.setResolution(96);
        QPainter painter;
        if (!painter.begin(&generator)) {
            return false;
        }
        painter.fillRect(QRect(QPoint(0, 0), viewSizePx), Qt::white);
        draw(painter, viewSizePx);
        painter.end();
        return true;
    });
}

std::optional<PictureType> pictureTypeOf(const std::string& path)
{
    const std::string extension = fileExtension(path);
    if (extension == "png") {
        return PictureType::Png;
    }
    if (extension == "pdf") {
        return PictureType::Pdf;
    }
    if (extension == "tif" || extension == "tiff") {
        return PictureType::Tiff;
    }
    if (extension == "svg") {
        return PictureType::Svg;
    }
    return std::nullopt;
}

std::vector<std::string> pictureExtensions()
{
    return {"png", "pdf", "tif", "svg"};
}

SavePanelRequest pictureSavePanel(const std::string& directory)
{
    SavePanelRequest request;
    request.prompt = "Save";
    request.offeredTypes = pictureExtensions();
    request.proposedName = "pict.tif";
    request.directory = directory;
    return request;
}

bool writePictureFile(const std::string& path, QSize viewSizePx, const GraphDrawing& draw,
                      std::string& error)
{
    const std::optional<PictureType> type = pictureTypeOf(path);
    if (!type) {
        error = "Pictures are saved as PNG, PDF, TIFF or SVG files (.png, .pdf, .tif or .svg).";
        return false;
    }
    switch (*type) {
    case PictureType::Pdf:
        return writeGraphPdf(viewSizePx, draw, path, error);
    case PictureType::Svg:
        return writeGraphSvg(viewSizePx, draw, path, error);
    case PictureType::Png:
    case PictureType::Tiff:
        break;
    }
    const QImage image = renderGraph(viewSizePx, draw);
    if (image.isNull()) {
        error = "The picture could not be drawn.";
        return false;
    }
    return *type == PictureType::Png ? writePng(image, path, error) : writeTiff(image, path, error);
}

} // namespace phonaxis
