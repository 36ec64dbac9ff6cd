#include "lib/Facades/QZEModal.hpp"

#include "lib/Logging/QZELogging.hpp"
#include "platform/Locked.hpp"

namespace qz {

QZEModal& QZEModal::manager() {
    static QZEModal* instance = new QZEModal();
    return *instance;
}

void QZEModal::registerAdapter(std::shared_ptr<QZEIndicatorAdapter> adapter) {
    lockedAssign(mutex_, m_adapter, std::move(adapter));
}

void QZEModal::showWithTitle(const OptionalText& title, const OptionalText& message,
                             std::function<void()> completionBlock) {
    std::shared_ptr<QZEIndicatorAdapter> a = lockedCopy(mutex_, m_adapter);
    if (a) return a->showWithTitle(title, message, std::move(completionBlock));
    QZELogging::shared().logError("Adapter not implemented");
}

}  // namespace qz
