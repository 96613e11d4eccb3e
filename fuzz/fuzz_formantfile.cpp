// Formant-file reader on arbitrary bytes. A text that reads is written back
// and read again: every row must come back as one row with its F2 and F3,
// a further writing must change nothing (the first may trim labels and
// lose a leading byte-order mark), and the plot of the table must be finite
// in every plot type with everything drawn.

#include "log/FormantPlot.h"
#include "log/FormantTable.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

void requireFinite(const phonaxis::PointD& point)
{
    if (!std::isfinite(point.x) || !std::isfinite(point.y)) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using phonaxis::FormantTable;
    auto rows = FormantTable::parseFormantText({data, size});
    if (!rows) {
        return 0;
    }
    FormantTable table;
    table.m_rows = std::move(*rows);
    const phonaxis::Bytes written = table.formantFileBytes();
    auto reread = FormantTable::parseFormantText(written);
    if (!reread || reread->size() != table.rowCount()) {
        std::abort();
    }
    for (std::size_t r = 0; r < table.rowCount(); ++r) {
        const auto& before = table.rows()[r];
        const auto& after = (*reread)[r];
        if (before.f2.size() != after.f2.size() || before.f3.size() != after.f3.size() ||
            after.row != std::to_string(r)) {
            std::abort();
        }
    }
    FormantTable copy;
    copy.m_rows = std::move(*reread);
    const phonaxis::Bytes rewritten = copy.formantFileBytes();
    auto third = FormantTable::parseFormantText(rewritten);
    if (!third) {
        std::abort();
    }
    FormantTable stable;
    stable.m_rows = std::move(*third);
    if (stable.formantFileBytes() != rewritten) {
        std::abort();
    }

    table.m_bDrawdata = true;
    table.m_bDrawellipse = true;
    table.m_bDrawmean = true;
    table.m_bDrawindividuallabels = true;
    table.m_bDrawmeanlabel = true;
    for (std::int32_t type = 0; type < 3; ++type) {
        const phonaxis::PlotGeometry g =
            phonaxis::PlotData(table, phonaxis::Rect{0, 0, 600, 800}, type);
        if (g.points.size() != table.rowCount()) {
            std::abort();
        }
        for (const auto& point : g.points) {
            requireFinite(point.circle.topLeft);
        }
        for (const auto& group : g.groups) {
            requireFinite(group.mean.topLeft);
            if (!group.ellipse.empty() && group.ellipse.size() != 200) {
                std::abort();
            }
            for (const auto& point : group.ellipse) {
                requireFinite(point);
            }
        }
    }
    return 0;
}
