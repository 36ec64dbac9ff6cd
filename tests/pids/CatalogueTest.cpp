#include <gtest/gtest.h>

#include <set>

#include "api/PIDs/Mode1/Mode1PIDs.hpp"
#include "api/PIDs/PIDInterface.hpp"

namespace qz {
namespace {

TEST(CatalogueStructureTest, KeysAndObjectCounts) {
    PIDInterface pi;
    auto map = pi.pidMap();
    EXPECT_EQ(map->size(), 143u);
    EXPECT_EQ(pi.getPids().size(), 348u);
    EXPECT_EQ(mode1Classes().size(), 434u);
}

}  // namespace
}  // namespace qz
