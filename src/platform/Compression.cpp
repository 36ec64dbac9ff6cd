#include "platform/Compression.hpp"

#include <zlib.h>

#include <climits>

namespace qz {

namespace {

constexpr int kGzipWindowBits = 15 + 16;  // gzip header and trailer
constexpr int kZlibWindowBits = 15;
constexpr size_t kChunk = 64 * 1024;

std::unexpected<CompressionError> failure(int code, const z_stream& zs, const char* fallback) {
    return std::unexpected(CompressionError{code, zs.msg ? zs.msg : fallback});
}

Result<Data, CompressionError> deflateWith(const Data& data, int level, int windowBits) {
    if (data.size() > UINT_MAX)
        return std::unexpected(CompressionError{Z_BUF_ERROR, "input too large"});
    z_stream zs{};
    int rc = deflateInit2(&zs, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK) return failure(rc, zs, "deflateInit2 failed");
    Data out(deflateBound(&zs, static_cast<uLong>(data.size())));
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    rc = deflate(&zs, Z_FINISH);
    if (rc != Z_STREAM_END) {
        auto err = failure(rc, zs, "deflate failed");
        deflateEnd(&zs);
        return err;
    }
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

// Inflates `data`; with `multiMember` every concatenated gzip member is read.
Result<Data, CompressionError> inflateWith(const Data& data, int windowBits, bool multiMember) {
    if (data.size() > UINT_MAX)
        return std::unexpected(CompressionError{Z_BUF_ERROR, "input too large"});
    z_stream zs{};
    int rc = inflateInit2(&zs, windowBits);
    if (rc != Z_OK) return failure(rc, zs, "inflateInit2 failed");
    Data out;
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    for (;;) {
        size_t before = out.size();
        out.resize(before + kChunk);
        zs.next_out = out.data() + before;
        zs.avail_out = kChunk;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.resize(before + (kChunk - zs.avail_out));
        if (rc == Z_STREAM_END) {
            if (multiMember && zs.avail_in > 0) {
                rc = inflateReset(&zs);
                if (rc == Z_OK) continue;
            } else if (zs.avail_in > 0) {
                inflateEnd(&zs);
                return std::unexpected(CompressionError{Z_DATA_ERROR, "trailing data"});
            }
            break;
        }
        if (rc == Z_BUF_ERROR && zs.avail_in == 0) {
            inflateEnd(&zs);
            return std::unexpected(CompressionError{Z_BUF_ERROR, "truncated input"});
        }
        if (rc != Z_OK) {
            auto err = failure(rc == Z_NEED_DICT ? Z_DATA_ERROR : rc, zs, "corrupt input");
            inflateEnd(&zs);
            return err;
        }
    }
    inflateEnd(&zs);
    if (rc != Z_STREAM_END) return std::unexpected(CompressionError{rc, "corrupt input"});
    return out;
}

}  // namespace

Result<Data, CompressionError> gzipCompress(const Data& data, int level) {
    return deflateWith(data, level, kGzipWindowBits);
}

Result<Data, CompressionError> gzipDecompress(const Data& data) {
    return inflateWith(data, kGzipWindowBits, true);
}

Result<Data, CompressionError> zlibDeflate(const Data& data, int level) {
    return deflateWith(data, level, kZlibWindowBits);
}

Result<Data, CompressionError> zlibInflate(const Data& data) {
    return inflateWith(data, kZlibWindowBits, false);
}

}  // namespace qz
