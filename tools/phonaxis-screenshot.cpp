// phonaxis-screenshot: the pictures of the application that its software
// centre description shows, made at build time by the real windows, drawn
// offscreen on the demo recording.
//   phonaxis-screenshot DEMO.wav OUT_DIR
// writes OUT_DIR/phonaxis-main.png (the document window) and
// OUT_DIR/phonaxis-spectrogram.png (its spectrogram window), 1280 × 720 each.
#include "app/Application.h"
#include "app/MainWindowController.h"
#include "app/Startup.h"
#include "display/MainViewLayout.h"
#include "display/MainViewModel.h"
#include "display/MainViewPane.h"
#include "document/AppSettings.h"
#include "document/AutomaticPrompts.h"
#include "document/MyDocument.h"
#include "model/Channels.h"
#include "windows/ui/SpectrogramWindowController.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <utility>

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
// However slow the machine, a build never waits longer on the spectrogram.
constexpr int kLongestWaitMs = 120000;

bool save(QWidget& window, const QString& path)
{
    window.resize(kWidth, kHeight);
    window.show();
    QApplication::processEvents();
    window.repaint();
    if (!window.grab().save(path, "PNG")) {
        std::fprintf(stderr, "phonaxis-screenshot: cannot write \"%s\"\n",
                     path.toLocal8Bit().constData());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: phonaxis-screenshot DEMO.wav OUT_DIR\n");
        return 2;
    }
    // No display is needed: the windows draw into images.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qtApplication(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Phonaxis"));
    const QString demo = QString::fromLocal8Bit(argv[1]);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "phonaxis-screenshot: cannot make the folder \"%s\"\n", argv[2]);
        return 1;
    }

    // A fresh application: the defaults, nothing of the builder's own
    // configuration, a private folder for its temporary files.
    QTemporaryDir scratch;
    if (!scratch.isValid() || !QDir(scratch.path()).mkpath(QStringLiteral("tmp"))) {
        std::fprintf(stderr, "phonaxis-screenshot: no temporary folder\n");
        return 1;
    }
    phonaxis::AppSettings settings;
    settings.m_strConfigFolder = (scratch.path() + QStringLiteral("/config")).toStdString();
    phonaxis::ApplicationGlobals globals;
    globals.appPathTemp = (scratch.path() + QStringLiteral("/tmp")).toStdString();
    globals.gstrVersion = phonaxis::kApplicationVersion;
    phonaxis::AutomaticPrompts prompts(&std::cerr, "phonaxis-screenshot: ");
    phonaxis::Application application(settings, globals, &prompts);

    phonaxis::MainWindowController* window = application.openPath(demo);
    if (window == nullptr) {
        std::fprintf(stderr, "phonaxis-screenshot: \"%s\" did not open\n", argv[1]);
        return 1;
    }
    // The vowels of the demo labelled, and its three channels sharing the
    // view's height, as a user would arrange them.
    window->resize(kWidth, kHeight);
    window->show();
    QApplication::processEvents();
    phonaxis::MyDocument& document = window->document();
    const QFontMetrics metrics(QFont(QStringLiteral("Arial"), 14));
    for (const auto& [timeMs, text] :
         {std::pair{600.0, "a"}, std::pair{1750.0, "i"}, std::pair{2750.0, "u"}}) {
        phonaxis::LabelTransfer label;
        label.text = text;
        label.dTime = timeMs;
        label.dVerticalFactor = 0.05;
        label.rect.bottom = static_cast<std::int16_t>(metrics.height());
        label.rect.right =
            static_cast<std::int16_t>(metrics.horizontalAdvance(QString::fromUtf8(text)));
        document.getChannel(0).Add_Label(label);
    }
    int shown = 0;
    for (int i = 0; i < document.channelsInUse(); ++i) {
        shown += document.getChannel(i).m_bShow ? 1 : 0;
    }
    const int room =
        window->mainView()->height() - phonaxis::MainViewModel::kSingleStripBottomGapPx;
    for (int i = 0; i < document.channelsInUse() && shown > 0; ++i) {
        phonaxis::Channels& channel = document.getChannel(i);
        if (channel.m_bShow) {
            channel.m_nHeigth = std::max(40, (room - shown * phonaxis::g_nDelta) / shown);
        }
    }
    window->mainView()->documentChanged();
    if (!save(*window, folder + QStringLiteral("/phonaxis-main.png"))) {
        return 1;
    }

    phonaxis::SpectrogramWindowController* spectrogram = window->AnalysisSpectrogram();
    if (spectrogram == nullptr) {
        std::fprintf(stderr, "phonaxis-screenshot: the spectrogram window did not open\n");
        return 1;
    }
    spectrogram->resize(kWidth, kHeight);
    spectrogram->show();
    // A new size starts the image afresh once the window has settled; wait
    // for that, then until the image is finished.
    const auto settle = [](int ms) {
        const QDeadlineTimer until(ms);
        while (!until.hasExpired()) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
            QThread::msleep(10);
        }
    };
    settle(1000);
    const QDeadlineTimer deadline(kLongestWaitMs);
    while (spectrogram->computing() && !deadline.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    settle(300);
    if (spectrogram->computing()) {
        std::fprintf(stderr, "phonaxis-screenshot: the spectrogram took too long\n");
        return 1;
    }
    return save(*spectrogram, folder + QStringLiteral("/phonaxis-spectrogram.png")) ? 0 : 1;
}
