#pragma once

#include <atomic>
#include <cstdint>

namespace qz {

// A K-line module class that may wait before its first exchange. The module scanner sets it
// for the first K-line module after its set-up or after a pin switch.
class QZEDelayedTransmission {
  public:
    void setDelayTransmission(bool value) { m_delayTransmission = value; }
    bool delayTransmission() const { return m_delayTransmission; }

  protected:
    // True once after the delay was asked for; clears the flag.
    bool takeDelayTransmission() { return m_delayTransmission.exchange(false); }

  private:
    std::atomic<bool> m_delayTransmission{false};
};

// A K-line module class that is read on several connector pin pairs. Each class lists the
// high pins to try (its static getHighPINs); the scanner hands it the one in force.
class QZEMultiPinModule {
  public:
    void setHighPin(int64_t pin) { m_highPin = pin; }
    int64_t highPin() const { return m_highPin; }

  private:
    std::atomic<int64_t> m_highPin{0};
};

}  // namespace qz
