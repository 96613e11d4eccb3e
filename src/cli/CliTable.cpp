#include "cli/CliTable.h"

namespace phonaxis::cli {

} // namespace phonaxis::cli
