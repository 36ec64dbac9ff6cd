#include "platform/Compression.hpp"

#include <gtest/gtest.h>

#include "platform/FileSystem.hpp"
#include "support/TestSupport.hpp"

namespace qz {
namespace {

using namespace testsupport;

Data sample(size_t n) {
    Data d(n);
    uint32_t x = 12345;
    for (auto& b : d) {
        x = x * 1103515245 + 12345;
        b = static_cast<uint8_t>((x >> 16) % 8 + 'a');  // compressible, not trivial
    }
    return d;
}

TEST(CompressionTest, GzipOutputIsReadableByGzip) {
    ScopedHome home;
    for (size_t n : {size_t{0}, size_t{1}, size_t{100000}}) {
        Data plain = sample(n);
        auto packed = gzipCompress(plain);
        ASSERT_TRUE(packed);
        auto file = home.path() / "out.gz";
        writeFileBytes(file, *packed);
        EXPECT_TRUE(run("gzip -t " + file.string())) << n;
        EXPECT_TRUE(run("gzip -dc " + file.string() + " > " + (home.path() / "out").string()));
        EXPECT_EQ(readFileBytes(home.path() / "out"), plain) << n;
    }
}

TEST(CompressionTest, ReadsGzipOutputIncludingConcatenatedMembers) {
    ScopedHome home;
    auto dir = home.path();
    writeFileBytes(dir / "a", bytes("first part\n"));
    writeFileBytes(dir / "b", bytes("second part\n"));
    ASSERT_TRUE(run("gzip -c " + (dir / "a").string() + " > " + (dir / "ab.gz").string() +
                    " && gzip -c " + (dir / "b").string() + " >> " + (dir / "ab.gz").string()));
    auto unpacked = gzipDecompress(readFileBytes(dir / "ab.gz"));
    ASSERT_TRUE(unpacked);
    EXPECT_EQ(*unpacked, bytes("first part\nsecond part\n"));
}

TEST(CompressionTest, RoundTripsAndRejectsDamagedInput) {
    Data plain = sample(50000);
    auto gz = gzipCompress(plain);
    auto z = zlibDeflate(plain);
    ASSERT_TRUE(gz && z);
    EXPECT_LT(gz->size(), plain.size());
    EXPECT_EQ(gzipDecompress(*gz).value(), plain);
    EXPECT_EQ(zlibInflate(*z).value(), plain);
    EXPECT_EQ((*gz)[0], 0x1f);
    EXPECT_EQ((*gz)[1], 0x8b);

    Data truncated(gz->begin(), gz->begin() + static_cast<long>(gz->size() / 2));
    EXPECT_FALSE(gzipDecompress(truncated));
    EXPECT_FALSE(gzipDecompress(Data{}));
    EXPECT_FALSE(zlibInflate(bytes("not compressed at all")));
    EXPECT_FALSE(gzipDecompress(*z));  // zlib stream is not gzip
    Data corrupt = *gz;
    corrupt[corrupt.size() - 5] ^= 0xFF;  // CRC/length trailer
    EXPECT_FALSE(gzipDecompress(corrupt));
    Data trailing = *z;
    trailing.push_back(0);
    EXPECT_FALSE(zlibInflate(trailing));
}

}  // namespace
}  // namespace qz
