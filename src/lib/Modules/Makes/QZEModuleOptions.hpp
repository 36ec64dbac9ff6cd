#pragma once

#include <atomic>
#include <cstdint>

namespace qz {

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
