#include "document/AppSettings.h"

namespace phonaxis {

AppSettings& AppSettings::instance()
{
    static AppSettings settings;
    return settings;
}

} // namespace phonaxis
