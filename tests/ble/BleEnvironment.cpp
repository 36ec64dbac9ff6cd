// Every scanner of the test program gets a simulated central unless a test installs its own
// world: no test reaches the machine's Bluetooth stack by accident.
#include <gtest/gtest.h>

#include <memory>

#include "sim/SimulatedBluetooth.hpp"

namespace {

class SimulatedBluetoothEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        installation_ = std::make_unique<qz::sim::SimulatedBluetooth::Installation>(
            qz::sim::SimulatedBluetooth::create());
    }
    void TearDown() override { installation_.reset(); }

  private:
    std::unique_ptr<qz::sim::SimulatedBluetooth::Installation> installation_;
};

[[maybe_unused]] auto* const environment =
    ::testing::AddGlobalTestEnvironment(new SimulatedBluetoothEnvironment);

}  // namespace
