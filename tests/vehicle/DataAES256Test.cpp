#include <gtest/gtest.h>

#include "VehicleTestSupport.hpp"
#include "lib/Utils/DataAES256.hpp"

namespace qz {
namespace {

using namespace vehicletest;

// "Quillmarsh" followed by 22 zero bytes, as openssl takes it.
const std::string kKeyHex = "5175696c6c6d61727368" + std::string(44, '0');

Data key() {
    return DataAES256::definitionFileKey();
}

TEST(DataAES256Test, RoundTripGrowsByOneToSixteenBytes) {
    for (std::size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 1000u}) {
        Data plain(n);
        for (std::size_t i = 0; i < n; ++i) plain[i] = static_cast<uint8_t>(i * 7 + 3);
        auto encrypted = DataAES256::encryptedWithKey(plain, key());
        ASSERT_TRUE(encrypted);
        EXPECT_GE(encrypted->size(), n + 1);
        EXPECT_LE(encrypted->size(), n + 16);
        EXPECT_EQ(encrypted->size() % 16, 0u);
        EXPECT_EQ(DataAES256::decryptedWithKey(*encrypted, key()), plain);
    }
}

TEST(DataAES256Test, ShortKeyIsZeroPaddedLongKeyIsCut) {
    const Data plain = {'a', 'b', 'c'};
    Data padded = key();
    padded.resize(32, 0);
    EXPECT_EQ(DataAES256::encryptedWithKey(plain, key()),
              DataAES256::encryptedWithKey(plain, padded));

    Data longKey(40);
    for (std::size_t i = 0; i < longKey.size(); ++i) longKey[i] = static_cast<uint8_t>(i + 1);
    Data first32(longKey.begin(), longKey.begin() + 32);
    auto a = DataAES256::encryptedWithKey(plain, longKey);
    EXPECT_EQ(a, DataAES256::encryptedWithKey(plain, first32));
    ASSERT_TRUE(a);
    EXPECT_EQ(DataAES256::decryptedWithKey(*a, first32), plain);

    // No key at all is the all-zero key.
    EXPECT_EQ(DataAES256::makeCryptedVersionWithKeyData(plain, nullptr, 0, false),
              DataAES256::encryptedWithKey(plain, Data(32, 0)));
}

TEST(DataAES256Test, FailuresLogOneLineAndAnswerNothing) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(DataAES256::decryptedWithKey(Data(17, 1), key()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: Could not decrypt data: Alignment error\n");

    // A whole block whose plain text ends in 0: not valid padding.
    auto encrypted = DataAES256::encryptedWithKey(Data(16, 0), key()).value();
    encrypted.resize(16);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(DataAES256::decryptedWithKey(encrypted, key()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: Could not decrypt data: Decode error\n");
}

TEST(DataAES256Test, ReadableByOpensslAndBack) {
    TempDir dir;
    std::string plain = "<?xml version=\"1.0\"?>\n<list><brand name=\"x\"/></list>\n";
    for (int i = 0; i < 50; ++i) plain += "line " + std::to_string(i) + "\n";
    writeFileBytes(dir / "ours.enc",
                   DataAES256::encryptedWithKey(Data(plain.begin(), plain.end()), key()).value());
    ASSERT_TRUE(run("openssl enc -d -aes-256-ecb -K " + kKeyHex + " -in " +
                    (dir / "ours.enc").string() + " -out " + (dir / "ours.txt").string()));
    EXPECT_EQ(text(readFileBytes(dir / "ours.txt")), plain);

    writeText(dir / "theirs.txt", plain);
    ASSERT_TRUE(run("openssl enc -e -aes-256-ecb -K " + kKeyHex + " -in " +
                    (dir / "theirs.txt").string() + " -out " + (dir / "theirs.enc").string()));
    auto decrypted = DataAES256::decryptedWithKey(readFileBytes(dir / "theirs.enc"), key());
    ASSERT_TRUE(decrypted);
    EXPECT_EQ(text(*decrypted), plain);
}

}  // namespace
}  // namespace qz
