#include <gtest/gtest.h>

#include "lib/Decoders/QZEBitEncodedAddress.hpp"

using namespace qz;

using Texts = std::vector<std::string>;

TEST(BitEncodedAddressTest, StoresFaultsPerBitAndStatusesOnlyWhereGiven) {
    QZEBitEncodedAddress table;
    EXPECT_TRUE(table.addresses().empty());
    EXPECT_EQ(table.infoForBit(0, 5), std::nullopt);

    EXPECT_TRUE(table.setBit(2, 5, "F12", "Sensor open"));
    EXPECT_EQ(table.infoForBit(2, 5), (Texts{"F12", "Sensor open"}));
    EXPECT_EQ(table.infoForBit(3, 5), (Texts{"", ""}));
    EXPECT_EQ(table.infoForBit(8, 5), std::nullopt);
    EXPECT_EQ(table.infoForBit(0, 6), std::nullopt);

    // An invalid bit still creates the byte's tables, status included.
    EXPECT_FALSE(table.setBit(8, 9, "X", "Y", "ACTIVE"));
    EXPECT_EQ(table.infoForBit(0, 9), (Texts{"", "", ""}));
    EXPECT_EQ(table.infoForBit(8, 9), std::nullopt);

    // Once a byte has statuses every bit of it answers three entries.
    EXPECT_TRUE(table.setBit(7, 5, "F17", "Short", "STORED"));
    EXPECT_EQ(table.infoForBit(7, 5), (Texts{"F17", "Short", "STORED"}));
    EXPECT_EQ(table.infoForBit(2, 5), (Texts{"F12", "Sensor open", ""}));
    EXPECT_TRUE(table.setBit(7, 5, "F18", "Open"));  // no status: the stored one stays
    EXPECT_EQ(table.infoForBit(7, 5), (Texts{"F18", "Open", "STORED"}));

    EXPECT_EQ(table.addresses(), (std::vector<uint64_t>{5, 9}));
    EXPECT_EQ(table.status(), std::nullopt);
    table.setStatus("ACTIVE");
    EXPECT_EQ(table.status(), "ACTIVE");

    // Stored in a record's extras as a shared object.
    auto shared = std::make_shared<QZEBitEncodedAddress>(table);
    QZEValue value(shared);
    EXPECT_EQ(value.object<QZEBitEncodedAddress>(), shared);
}
