#include "sim/FakeSensorLink.hpp"

#include "platform/Locked.hpp"

namespace qz::sim {

std::shared_ptr<FakeSensorLink> FakeSensorLink::create(std::shared_ptr<SensorCore> core) {
    return std::shared_ptr<FakeSensorLink>(new FakeSensorLink(std::move(core)));
}

void FakeSensorLink::send(const std::string& cmd) {
    lockedAssign(mutex_, awaitingFw_, false);
    feed(scramble(std::string_view(cmd)));
}

void FakeSensorLink::write(const Data& fwdata, bool useFwDelegate) {
    lockedAssign(mutex_, awaitingFw_, useFwDelegate);
    feed(fwdata);
}

void FakeSensorLink::setReceiver(const std::shared_ptr<SensorReceiver>& receiver) {
    lockedAssign(mutex_, receiver_, receiver);
}

bool FakeSensorLink::linkUp() const {
    return lockedCopy(mutex_, up_);
}

void FakeSensorLink::feed(const Bytes& wire) {
    if (!linkUp()) return;
    std::weak_ptr<FakeSensorLink> weak = weak_from_this();
    for (auto& out : core_->receive(wire)) {
        auto action = [weak, out] {
            auto self = weak.lock();
            if (!self) return;
            switch (out.kind) {
                case Output::Kind::Bytes:
                    self->deliver(out.bytes);
                    break;
                case Output::Kind::Disconnect:
                case Output::Kind::Reappear: {
                    std::lock_guard lock(self->mutex_);
                    self->up_ = out.kind == Output::Kind::Reappear;
                    break;
                }
            }
        };
        if (out.delay > 0)
            DispatchQueue::main()->asyncAfter(out.delay, action);
        else
            DispatchQueue::main()->async(action);
    }
}

void FakeSensorLink::deliver(const Bytes& wire) {
    std::shared_ptr<SensorReceiver> receiver;
    bool raw;
    {
        std::lock_guard lock(mutex_);
        if (!up_) return;
        receiver = receiver_.lock();
        raw = awaitingFw_;
    }
    if (receiver) receiver->received(raw ? toString(wire) : scrambleToString(wire));
}

}  // namespace qz::sim
