#pragma once

namespace qz {

// The library's version text, e.g. "1.6.194".
const char* libraryVersion();

}  // namespace qz
