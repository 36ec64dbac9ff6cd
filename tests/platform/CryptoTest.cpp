#include "platform/Crypto.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "platform/FileSystem.hpp"
#include "support/TestSupport.hpp"

namespace qz {
namespace {

using namespace testsupport;

Data pattern(size_t n, uint8_t seed) {
    Data d(n);
    for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(seed + i * 7);
    return d;
}

const Data kKey = pattern(32, 3);
const Data kIv = pattern(16, 11);

class CryptoCliTest : public ::testing::TestWithParam<size_t> {
  protected:
    ScopedHome home;
    std::filesystem::path dir = home.path();
};

TEST_P(CryptoCliTest, CbcAgreesWithOpensslInBothDirections) {
    Data plain = pattern(GetParam(), 42);
    auto ours = AES256::encryptCBC(kKey, kIv, plain);
    ASSERT_TRUE(ours);
    EXPECT_EQ(ours->size(), AES256::encryptedLength(plain.size()));
    writeFileBytes(dir / "ours.bin", *ours);
    ASSERT_TRUE(run("openssl enc -d -aes-256-cbc -K " + hex(kKey) + " -iv " + hex(kIv) + " -in " +
                    (dir / "ours.bin").string() + " -out " + (dir / "ours.txt").string()));
    EXPECT_EQ(readFileBytes(dir / "ours.txt"), plain);

    writeFileBytes(dir / "plain.bin", plain);
    ASSERT_TRUE(run("openssl enc -e -aes-256-cbc -K " + hex(kKey) + " -iv " + hex(kIv) + " -in " +
                    (dir / "plain.bin").string() + " -out " + (dir / "theirs.bin").string()));
    Data theirs = readFileBytes(dir / "theirs.bin");
    EXPECT_EQ(theirs, *ours);
    auto back = AES256::decryptCBC(kKey, kIv, theirs);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, plain);
}

TEST_P(CryptoCliTest, EcbAgreesWithOpensslInBothDirections) {
    Data plain = pattern(GetParam(), 9);
    auto ours = AES256::encryptECB(kKey, plain);
    ASSERT_TRUE(ours);
    writeFileBytes(dir / "ours.bin", *ours);
    ASSERT_TRUE(run("openssl enc -d -aes-256-ecb -K " + hex(kKey) + " -in " +
                    (dir / "ours.bin").string() + " -out " + (dir / "ours.txt").string()));
    EXPECT_EQ(readFileBytes(dir / "ours.txt"), plain);

    writeFileBytes(dir / "plain.bin", plain);
    ASSERT_TRUE(run("openssl enc -e -aes-256-ecb -K " + hex(kKey) + " -in " +
                    (dir / "plain.bin").string() + " -out " + (dir / "theirs.bin").string()));
    auto back = AES256::decryptECB(kKey, readFileBytes(dir / "theirs.bin"));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, plain);
}

INSTANTIATE_TEST_SUITE_P(Lengths, CryptoCliTest, ::testing::Values(0, 1, 15, 16, 17, 255, 1000));

TEST(CryptoTest, RejectsBadKeyAndIvLengths) {
    Data plain = bytes("hello");
    EXPECT_EQ(errorOf(AES256::encryptCBC(pattern(31, 0), kIv, plain)),
              CryptoError::invalidKeyLength);
    EXPECT_EQ(errorOf(AES256::encryptCBC(pattern(33, 0), kIv, plain)),
              CryptoError::invalidKeyLength);
    EXPECT_EQ(errorOf(AES256::encryptCBC(kKey, pattern(15, 0), plain)),
              CryptoError::invalidIvLength);
    EXPECT_EQ(errorOf(AES256::decryptCBC(kKey, Data{}, plain)), CryptoError::invalidIvLength);
    EXPECT_EQ(errorOf(AES256::encryptECB(Data{}, plain)), CryptoError::invalidKeyLength);
}

TEST(CryptoTest, RejectsDamagedCiphertext) {
    auto sealed = AES256::encryptCBC(kKey, kIv, bytes("some log text"));
    ASSERT_TRUE(sealed);
    Data truncated(sealed->begin(), sealed->end() - 1);
    EXPECT_EQ(errorOf(AES256::decryptCBC(kKey, kIv, truncated)), CryptoError::invalidInput);
    EXPECT_EQ(errorOf(AES256::decryptCBC(kKey, kIv, Data{})), CryptoError::badPadding);
    // A wrong key almost always leaves invalid padding; try keys until one does.
    int badPadding = 0;
    for (uint8_t k = 0; k < 8; ++k)
        if (!AES256::decryptCBC(pattern(32, 100 + k), kIv, *sealed)) ++badPadding;
    EXPECT_GT(badPadding, 0);
    // After a failure the per-thread context still works.
    auto ok = AES256::decryptCBC(kKey, kIv, *sealed);
    ASSERT_TRUE(ok);
    EXPECT_EQ(*ok, bytes("some log text"));
}

TEST(CryptoTest, ThreadsEncryptIndependently) {
    auto expected = AES256::encryptCBC(kKey, kIv, pattern(300, 5));
    ASSERT_TRUE(expected);
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                auto r = AES256::encryptCBC(kKey, kIv, pattern(300, 5));
                if (!r || *r != *expected) ++mismatches;
                auto e = AES256::encryptECB(kKey, pattern(40, 1));
                if (!e || !AES256::decryptECB(kKey, *e)) ++mismatches;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(CryptoTest, APreparedEncryptorStartsEveryMessageFromTheIv) {
    AES256CBCEncryptor prepared(kKey, kIv);
    ASSERT_TRUE(prepared.valid());
    Data out;
    for (size_t length : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 255u, 256u, 1000u, 3u}) {
        const Data plain = pattern(length, static_cast<uint8_t>(length));
        const std::string text(plain.begin(), plain.end());
        const size_t cut = length / 3;
        const size_t n = prepared.encrypt(std::string_view(text).substr(0, cut),
                                          std::string_view(text).substr(cut), out, 2);
        auto expected = AES256::encryptCBC(kKey, kIv, plain);
        ASSERT_TRUE(expected);
        EXPECT_EQ(n, expected->size()) << length;
        EXPECT_EQ(Data(out.begin() + 2, out.end()), *expected) << length;
    }
    EXPECT_FALSE(AES256CBCEncryptor(Data(31), kIv).valid());
}

}  // namespace
}  // namespace qz
