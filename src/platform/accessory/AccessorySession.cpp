#include "platform/accessory/AccessorySession.hpp"

#include <algorithm>
#include <cstdio>

namespace qz {

std::shared_ptr<AccessorySession> AccessorySession::create(std::shared_ptr<Accessory> accessory,
                                                           const std::string& protocol) {
    if (!accessory || !accessory->isConnected() || !accessory->device()) return nullptr;
    const auto& protocols = accessory->protocolStrings();
    if (std::find(protocols.begin(), protocols.end(), protocol) == protocols.end()) return nullptr;
    std::shared_ptr<AccessorySession> session(new AccessorySession(accessory, protocol));
    if (!accessory->device()->sessionOpened(protocol, session->input_, session->output_)) {
        session->accessory_.reset();  // refused: no close report for a session never opened
        return nullptr;
    }
    accessory->addStreams(session->input_, session->output_);
    return session;
}

AccessorySession::AccessorySession(std::shared_ptr<Accessory> accessory, std::string protocol)
    : accessory_(std::move(accessory)),
      protocol_(std::move(protocol)),
      input_(InputStream::create()),
      output_(OutputStream::create()) {}

AccessorySession::~AccessorySession() {
    if (accessory_ && accessory_->device()) accessory_->device()->sessionClosed();
}

std::string AccessorySession::description() const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(this));
    return std::string("<EASession: ") + buf + ">";
}

}  // namespace qz
