#include "version.h"

namespace korvane {

const char *version() { return KORVANE_VERSION_STRING; }

}  // namespace korvane
