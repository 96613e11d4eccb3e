#include "cli/CliFormantPicture.h"

#include "cli/CliPicture.h"
#include "display/FormantChart.h"
#include "log/FormantTable.h"

#include <ostream>
#include <string>

namespace phonaxis::cli {

int formantsCommand(const Options& options, std::ostream& /*out*/, std::ostream& err)
{
    if (options.positional.size() != 1) {
        err << "phonaxis-cli: formants takes one TABLE (phonaxis-cli --help tells more)\n";
        return kExitUsage;
    }
    if (!options.pngPath) {
        err << "phonaxis-cli: formants needs --png OUT\n";
        return kExitUsage;
    }
    const std::string& tablePath = options.positional[0];
    const std::string& outPath = *options.pngPath;
    if (const int status = checkPictureOutput(outPath, options.positional, err)) {
        return status;
    }
    FormantTable table;
    if (!table.ReadDocument(tablePath)) {
        err << "phonaxis-cli: \"" << tablePath
            << "\" cannot be read as a formant table (a UTF-8 text file of at most 512 MB)\n";
        return kExitFailure;
    }
    const std::int32_t plotType = options.plotType.value_or(0);
    const QSize sizePx(options.widthPx.value_or(kFormantChartWidthPx),
                       options.heightPx.value_or(kFormantChartHeightPx));
    return writeGraphPicture(outPath, sizePx,
                             formantChartDrawing(table, plotType, defaultFormantChartText()), err);
}

} // namespace phonaxis::cli
