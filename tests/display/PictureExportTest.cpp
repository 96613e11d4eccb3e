// The test signals live in a namespace whose name Qt's keyword macros
// rewrite, so the recording is made before any Qt header is seen.
#include "Signals.h"
#include "support/ScriptedPrompts.h"

namespace phonaxis::test {
// Tones of 200 Hz (amplitude 0.8) and 50 Hz (0.5), 1 s at 22,050 Hz, as WAV.
inline std::optional<Bytes> twoToneWave(Prompts& prompts)
{
    const std::vector<float> first = signals::tone(200.0, 22050.0, 1000.0, 0.8);
    const std::vector<float> second = signals::tone(50.0, 22050.0, 1000.0, 0.5);
    const std::span<const float> channels[] = {first, second};
    return signals::waveFileBytes(22050.0, channels, prompts);
}
} // namespace phonaxis::test

#include "display/PictureExport.h"
#include "document/MyDocument.h"

#include <QImageReader>
#include <QPainter>
#include <QPrinter>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

constexpr QSize kSize(800, 400);

int darkPixels(const QImage& image, const QRect& area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            count += qGray(image.pixel(x, y)) < 100 ? 1 : 0;
        }
    }
    return count;
}

std::string fileStart(const std::string& path)
{
    std::string start(4, '\0');
    std::ifstream(path, std::ios::binary).read(start.data(), 4);
    return start;
}

class PictureExportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(m_dir);
        const auto bytes = test::twoToneWave(m_prompts);
        ASSERT_TRUE(bytes && m_document.readFromData(*bytes, "wav"));
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string path(const char* name) const { return (m_dir / name).string(); }

    // The middle of strip `index` as laid out for kSize (stacked at their
    // heights 5 pixels apart, x from 50 to width − 5), clear of title,
    // scale values and frame.
    QRect band(int index) const
    {
        const int top = index == 0 ? 0 : m_document.getChannel(0).m_nHeigth + 5;
        return QRect(QPoint(110, top + 20),
                     QPoint(kSize.width() - 85, top + m_document.getChannel(index).m_nHeigth - 20));
    }

    // One folder per test, so that tests may run in parallel.
    fs::path m_dir = fs::temp_directory_path() /
                     ("phonaxis-picture-export-" +
                      std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    test::ScriptedPrompts m_prompts;
    MyDocument m_document{m_prompts};
};

TEST_F(PictureExportTest, TiffShowsEachTraceInItsStripOnWhite)
{
    std::string error;
    ASSERT_TRUE(writeTiff(renderPicture(m_document, kSize), path("pict.tif"), error)) << error;
    QImageReader reader(QString::fromStdString(path("pict.tif")));
    const QImage image = reader.read();
    ASSERT_EQ(image.size(), kSize) << reader.errorString().toStdString();
    EXPECT_EQ(reader.format(), "tiff");
    for (int index : {0, 1}) {
        const QRect b = band(index);
        int columns = 0; // columns the trace crosses
        for (int x = b.left(); x <= b.right(); ++x) {
            columns += darkPixels(image, QRect(x, b.top(), 1, b.height())) > 0 ? 1 : 0;
        }
        EXPECT_GT(columns, b.width() * 9 / 10) << "strip " << index;
    }
    // Left margin and the area well below the strips (and their time axis):
    // white.
    const int below = band(1).bottom() + 80;
    for (int y = 0; y < kSize.height(); ++y) {
        for (int x = 0; x < (y > below ? kSize.width() : 30); ++x) {
            ASSERT_EQ(image.pixel(x, y), qRgb(255, 255, 255)) << x << "," << y;
        }
    }
}

TEST_F(PictureExportTest, PageNarrowsTheTraceAndLeavesTheDocumentAsItWas)
{
    const Rect location{7, 60, 77, 300};
    for (int i = 0; i < 2; ++i) {
        m_document.getChannel(i).m_rLocation = location;
        m_document.getChannel(i).m_dPageMin = 1234.0;
    }
    const std::int32_t height = m_document.getChannel(0).m_nHeigth;
    const QImage whole = renderPicture(m_document, kSize, PicturePage{0.0, 1000.0});
    const QImage part = renderPicture(m_document, kSize, PicturePage{100.0, 150.0});
    // Over 50 ms the 200 Hz tone is a thin curve; over 1 s its min/max
    // columns fill most of the band.
    EXPECT_LT(darkPixels(part, band(0)) * 2, darkPixels(whole, band(0)));
    EXPECT_NE(part.copy(band(1)), whole.copy(band(1)));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(m_document.getChannel(i).m_rLocation, location);
        EXPECT_EQ(m_document.getChannel(i).m_dPageMin, 1234.0);
        EXPECT_EQ(m_document.getChannel(i).m_dPageMax, 22050.0);
    }
    EXPECT_EQ(m_document.getChannel(0).m_nHeigth, height);
}

TEST_F(PictureExportTest, ScaledPictureKeepsItsProportionsAtAnyResolution)
{
    const QImage plain = renderPicture(m_document, kSize);
    const int plainDark = darkPixels(plain, plain.rect());
    for (const int dpi : {96, 300, 1200}) {
        QImage scaled(kSize * 2, QImage::Format_RGB32);
        scaled.setDotsPerMeterX(qRound(dpi / 0.0254));
        scaled.setDotsPerMeterY(qRound(dpi / 0.0254));
        scaled.fill(Qt::white);
        QPainter painter(&scaled);
        drawPictureScaled(painter, QRectF(QPointF(0, 0), QSizeF(kSize * 2)), m_document, kSize);
        painter.end();
        // The same drawing twice as large: four times the ink, the margin clear.
        EXPECT_NEAR(darkPixels(scaled, scaled.rect()), 4 * plainDark, plainDark) << dpi;
        EXPECT_EQ(darkPixels(scaled, QRect(0, 0, 2 * 40, scaled.height())), 0) << dpi;
    }
}

TEST_F(PictureExportTest, PdfAndPrintedPagesHoldTheDrawing)
{
    MyDocument empty(m_prompts);
    std::string error;
    ASSERT_TRUE(writePdf(empty, kSize, std::nullopt, path("empty.pdf"), error)) << error;
    ASSERT_TRUE(writePdf(m_document, kSize, std::nullopt, path("view.pdf"), error)) << error;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(path("printed.pdf")));
    ASSERT_TRUE(printDocument(m_document, printer, kSize));
    for (const char* name : {"view.pdf", "printed.pdf"}) {
        EXPECT_EQ(fileStart(path(name)), "%PDF") << name;
        EXPECT_GT(fs::file_size(path(name)), fs::file_size(path("empty.pdf")) + 2000) << name;
    }
}

TEST_F(PictureExportTest, DeclinesWithoutTouchingTheTarget)
{
    const std::pair<QSize, std::optional<PicturePage>> cases[] = {
        {QSize(0, 300), std::nullopt},
        {QSize(kMaxPictureSidePx, kMaxPictureSidePx), std::nullopt},
        {kSize, PicturePage{200.0, 100.0}},
        {kSize, PicturePage{0.0, std::numeric_limits<double>::infinity()}},
    };
    std::ofstream(path("old.tif")) << "old!";
    std::string error;
    for (const auto& [size, page] : cases) {
        EXPECT_FALSE(writeTiff(renderPicture(m_document, size, page), path("old.tif"), error));
        EXPECT_FALSE(writePdf(m_document, size, page, path("old.tif"), error));
    }
    EXPECT_FALSE(writePng(renderPicture(m_document, kSize), path("no/dir/p.png"), error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(fileStart(path("old.tif")), "old!");
}

} // namespace
} // namespace phonaxis
