#pragma once

#include "api/PIDs/PID.hpp"

namespace qz {

// The vehicle identification number, service 09 PID 02. Its data are the VIN's bytes in
// hexadecimal; the value is the text of those bytes.
class PID0902 : public PID<std::string> {
  public:
    // A fresh request object (requestVin makes one per call).
    PID0902();

    // The VIN text (empty text when nothing reads; never absent).
    std::string valueAsText(bool useAltValueIfAvailable = false) const override;

  protected:
    std::optional<std::string> valueLocked() const override;
};

}  // namespace qz
