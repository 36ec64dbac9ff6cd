#pragma once

#include <functional>
#include <memory>

#include "api/Live/SmogInfoError.hpp"
#include "api/Live/SmogInfoReport.hpp"
#include "platform/Result.hpp"

namespace qz {

// The emissions-readiness check.
class PelkSmogDelegate {
  public:
    using SmogListener =
        std::function<void(Result<std::shared_ptr<SmogInfoReport>, SmogInfoError>)>;

    virtual ~PelkSmogDelegate() = default;

    virtual void requestSmogInfo(SmogListener listener) = 0;
};

}  // namespace qz
