#pragma once

namespace phonaxis::cli {

} // namespace phonaxis::cli
