#include "sys/Version.h"

#include "VersionText.h"

namespace sys {

const char* OdflashVersion() { return ODFLASH_VERSION_TEXT; }

} // namespace sys
