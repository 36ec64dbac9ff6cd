#pragma once

#include <string>

#include "platform/Result.hpp"

namespace qz {

struct CompressionError {
    int code = 0;         // zlib's status code
    std::string message;  // zlib's message or our own
};

// gzip format (RFC 1952), as `gzip` writes and reads it.
Result<Data, CompressionError> gzipCompress(const Data& data, int level = -1);
// Decompresses every gzip member of `data`; fails on truncated or corrupt input.
Result<Data, CompressionError> gzipDecompress(const Data& data);

// zlib format (RFC 1950).
Result<Data, CompressionError> zlibDeflate(const Data& data, int level = -1);
Result<Data, CompressionError> zlibInflate(const Data& data);

}  // namespace qz
