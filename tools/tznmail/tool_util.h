// What several command groups of the tool share.
#pragma once

#include "module/settings.h"

#include <string>

namespace tzn::tool {

// Reads the settings as the module does and returns them. A failed read the module would
// only log is shown as a warning; a failure the module cannot read past is thrown.
MailSettings LoadSettingsWithWarning();

} // namespace tzn::tool
