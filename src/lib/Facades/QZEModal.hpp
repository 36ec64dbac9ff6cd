#pragma once

#include <memory>
#include <mutex>

#include "lib/Facades/QZEAdapters.hpp"

namespace qz {

// Shows messages to the user through the host's indicator adapter.
class QZEModal {
  public:
    static QZEModal& manager();

    void registerAdapter(std::shared_ptr<QZEIndicatorAdapter> adapter);

    // Without an adapter: error log "Adapter not implemented"; the callback is never called.
    void showWithTitle(const OptionalText& title, const OptionalText& message,
                       std::function<void()> completionBlock);

  private:
    QZEModal() = default;
    std::mutex mutex_;
    std::shared_ptr<QZEIndicatorAdapter> m_adapter;
};

}  // namespace qz
