#pragma once

#include "display/FormantChart.h"
#include "log/FormantPlot.h"

#include <QWidget>

#include <string>

namespace phonaxis {

class FormantTable;

// The chart of a formant plot window (`plotFormantView`): the vowel chart of
// its controller's table, on white, y growing downward. The geometry is
// prepared when the table, the plot type, the text attributes or the size
// change (Refresh, resizing), so painting only draws. Main thread only.
class PlotFormantView : public QWidget {
    Q_OBJECT
public:
    explicit PlotFormantView(QWidget* parent = nullptr);

    // The table shown, with its plot type and settings; `table` must
    // outlive the view.
    void SetControllerID(const FormantTable* table);

    // The text attributes of point and mean labels; redraws.
    void setFontAttributes(const FormantChartText& text);
    const FormantChartText& fontAttributes() const { return m_text; }

    // The table or a plot setting changed: prepares the chart and repaints.
    void Refresh();

    // The chart as it is now drawn (view pixels).
    const PlotGeometry& geometry() const { return m_geometry; }

    // The chart as a picture drawing (for export, printing).
    GraphDrawing drawing() const;

    // Writes the chart in a view of the view's size (white, the same chart)
    // at `path` as PNG, PDF, TIFF or SVG by its extension, atomically. False
    // with `error` set for the user.
    bool SaveasPict(const std::string& path, std::string& error) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    const FormantTable* m_table = nullptr; // the controller's; not owned
    FormantChartText m_text = defaultFormantChartText();
    PlotGeometry m_geometry;
};

} // namespace phonaxis
