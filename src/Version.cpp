#include "Version.hpp"

namespace qz {

const char* libraryVersion() { return QZ_LIBRARY_VERSION; }

}  // namespace qz
