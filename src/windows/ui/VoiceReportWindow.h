#pragma once

#include "windows/VoiceReport.h"
#include "windows/ui/AnalysisWindowShell.h"

#include <atomic>
#include <optional>
#include <string>
#include <thread>

class QLabel;
class QTableWidget;

namespace phonaxis {

class MyDocument;

// The voice report window of one document: jitter, shimmer, HNR, CPPS and
// the rest (VoiceReport.h) over the selection, from the channel to analyse
// (the audio) and from the document's EGG channel, side by side in a table;
// "Log" adds the report's "Voice Report Entry" records to the measurement
// log and "Copy" (Edit ▸ Copy) puts the table on the clipboard as text.
//
// start() analyses the EGG channel (Channels::EggAnalysisAll, behind the
// progress dialog) and makes its report on the main thread, then computes
// the audio report on a worker thread from a copy of the channel's samples
// while the window shows a busy bar and Cancel. The report belongs to the
// selection and samples of the moment it was asked for; later edits leave it
// as it is. Closing cancels the worker and joins it. Main thread only.
class VoiceReportWindow : public AnalysisWindowShell {
    Q_OBJECT
public:
    // Nothing when channel `channel` of `document` (-1: its audio channel)
    // has samples to report on; else why not.
    static std::optional<std::string> cannotAnalyse(const MyDocument& document, int channel = -1);

    // A window for the document of `context` over [fromMs, toMs], with the
    // EGG from channel `eggChannel` (none when it is negative, not a channel
    // of the document or the analysed channel itself). Titled
    // "Voice Report:: ", the document's name and the analysed channel's title.
    VoiceReportWindow(AnalysisWindowContext context, double fromMs, double toMs, int eggChannel);
    ~VoiceReportWindow() override;

    // Makes the EGG report and starts the audio's on the worker (stopping
    // one under way).
    void start();

    bool computing() const { return m_thread.joinable() && !m_audio; }
    // The reports; the audio's is none while it is computed.
    const std::optional<VoiceReport>& audioReport() const { return m_audio; }
    const VoiceReport& eggReport() const { return m_egg; }
    QTableWidget* table() const { return m_table; }
    double fromMs() const { return m_fromMs; }
    double toMs() const { return m_toMs; }
    bool isCommandEnabled(const std::string& command) const override;

    // The table as tab-separated text (VoiceReportTable::text).
    QString tableText() const;

public slots:
    // The table as text on the clipboard.
    void EditCopy();
    // One "Voice Report Entry" record per source with measures; without a
    // log shown, an alert says how to show one.
    void LogVoiceReport();
    // Stops the audio report; its column says so.
    void cancelComputation() override;

protected:
    GraphDrawing pictureDrawing() const override { return {}; }
    void changeEvent(QEvent* event) override;

private:
    void audioFinished(int generation, VoiceReport report);
    void makeEggReport(const VoiceSettings& settings);
    void showReports();
    void showProgressRow(bool computing, const QString& status);
    // The commands and the buttons follow the window's state.
    void refreshAll();
    // Whether a report is done with measures to log.
    bool hasMeasures() const;

    double m_fromMs;
    double m_toMs;
    int m_eggChannel = -1; // -1: none
    std::optional<VoiceReport> m_audio;
    VoiceReport m_egg;
    bool m_cancelled = false;
    int m_generation = 0;            // of the audio report under way
    std::atomic<bool> m_stop{false}; // tells the worker to stop
    std::thread m_thread;

    QLabel* m_selection = nullptr;
    QTableWidget* m_table = nullptr;
    QLabel* m_messages = nullptr;
    QPushButton* m_log = nullptr;
    QPushButton* m_copy = nullptr;
};

} // namespace phonaxis
