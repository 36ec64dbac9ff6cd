#include "platform/accessory/Stream.hpp"

#include <algorithm>
#include <cstdio>

#include "platform/Locked.hpp"

namespace qz {

std::shared_ptr<RunLoop> RunLoop::main() {
    // Leaked: streams of sessions still open at exit are served on it.
    static const auto* loop =
        new std::shared_ptr<RunLoop>(std::make_shared<RunLoop>(DispatchQueue::main()));
    return *loop;
}

std::shared_ptr<RunLoop> RunLoop::current() {
    auto queue = DispatchQueue::current();
    if (!queue || queue == DispatchQueue::main()) return main();
    return std::make_shared<RunLoop>(std::move(queue));
}

std::string describe(StreamEvent event) {
    switch (event) {
        case StreamEvent::none:
            return "NSStreamEvent(rawValue: 0)";
        case StreamEvent::openCompleted:
            return "NSStreamEvent(rawValue: 1)";
        case StreamEvent::hasBytesAvailable:
            return "NSStreamEvent(rawValue: 2)";
        case StreamEvent::hasSpaceAvailable:
            return "NSStreamEvent(rawValue: 4)";
        case StreamEvent::errorOccurred:
            return "NSStreamEvent(rawValue: 8)";
        case StreamEvent::endEncountered:
            return "NSStreamEvent(rawValue: 16)";
    }
    return "NSStreamEvent(rawValue: " + std::to_string(static_cast<unsigned>(event)) + ")";
}

void Stream::setDelegate(std::weak_ptr<StreamDelegate> delegate) {
    lockedAssign(mutex_, delegate_, std::move(delegate));
}

void Stream::scheduleInRunLoop(std::shared_ptr<RunLoop> runLoop, const std::string&) {
    lockedAssign(mutex_, runLoop_, std::move(runLoop));
}

void Stream::removeFromRunLoop(const std::shared_ptr<RunLoop>& runLoop, const std::string&) {
    std::lock_guard lock(mutex_);
    if (runLoop_ && runLoop && *runLoop_ == *runLoop) runLoop_.reset();
}

void Stream::open() {
    {
        std::lock_guard lock(mutex_);
        if (status_ != StreamStatus::notOpen) return;
        status_ = StreamStatus::open;
    }
    post(StreamEvent::openCompleted);
}

void Stream::close() {
    lockedAssign(mutex_, status_, StreamStatus::closed);
}

StreamStatus Stream::streamStatus() const {
    return lockedCopy(mutex_, status_);
}

std::string Stream::description() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "<%s: %p>", isInput() ? "EAInputStream" : "EAOutputStream",
                  static_cast<const void*>(this));
    return buf;
}

void Stream::fail() {
    {
        std::lock_guard lock(mutex_);
        if (status_ != StreamStatus::open) return;
        status_ = StreamStatus::error;
    }
    post(StreamEvent::errorOccurred);
}

void Stream::finish() {
    {
        std::lock_guard lock(mutex_);
        if (status_ != StreamStatus::open) return;
        status_ = StreamStatus::atEnd;
    }
    post(StreamEvent::endEncountered);
}

void Stream::post(StreamEvent event) {
    std::shared_ptr<RunLoop> loop = lockedCopy(mutex_, runLoop_);
    if (!loop) return;
    std::weak_ptr<Stream> weak = weak_from_this();
    loop->queue()->async([weak, event] {
        auto self = weak.lock();
        if (!self) return;
        std::shared_ptr<StreamDelegate> delegate;
        {
            std::lock_guard lock(self->mutex_);
            // Events of a closed stream, or one taken off its run loop, are not delivered.
            if (!self->runLoop_) return;
            if (self->status_ == StreamStatus::notOpen || self->status_ == StreamStatus::closed)
                return;
            delegate = self->delegate_.lock();
        }
        if (delegate) delegate->stream(self, event);
    });
}

std::shared_ptr<InputStream> InputStream::create() {
    return std::shared_ptr<InputStream>(new InputStream());
}

bool InputStream::hasBytesAvailable() const {
    std::lock_guard lock(mutex_);
    // Bytes that arrived before the end stay readable.
    return (status_ == StreamStatus::open || status_ == StreamStatus::atEnd) && !bytes_.empty();
}

long InputStream::read(uint8_t* buffer, size_t maxLength) {
    std::lock_guard lock(mutex_);
    if (status_ == StreamStatus::error) return -1;
    if (failNextRead_) {
        failNextRead_ = false;
        return -1;
    }
    if (status_ != StreamStatus::open && status_ != StreamStatus::atEnd) return 0;
    size_t n = std::min(maxLength, bytes_.size());
    std::copy_n(bytes_.begin(), n, buffer);
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<long>(n));
    return static_cast<long>(n);
}

void InputStream::deliver(const Data& bytes) {
    if (bytes.empty()) return;
    {
        std::lock_guard lock(mutex_);
        if (status_ != StreamStatus::open && status_ != StreamStatus::notOpen) return;
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    }
    post(StreamEvent::hasBytesAvailable);
}

void InputStream::failNextRead() {
    lockedAssign(mutex_, failNextRead_, true);
}

std::shared_ptr<OutputStream> OutputStream::create(size_t capacity) {
    return std::shared_ptr<OutputStream>(new OutputStream(capacity));
}

OutputStream::OutputStream(size_t capacity)
    : capacity_(std::max<size_t>(capacity, 1)),
      drainQueue_(DispatchQueue::create("qz.accessory.output", DispatchQueue::serial)) {}

void OutputStream::open() {
    Stream::open();
    post(StreamEvent::hasSpaceAvailable);
}

bool OutputStream::hasSpaceAvailable() const {
    std::lock_guard lock(mutex_);
    return status_ == StreamStatus::open && inFlight_.size() < capacity_;
}

long OutputStream::write(const uint8_t* bytes, size_t maxLength) {
    size_t n = 0;
    Sink sink;
    {
        std::lock_guard lock(mutex_);
        if (status_ != StreamStatus::open) return -1;
        n = std::min(maxLength, capacity_ - std::min(capacity_, inFlight_.size()));
        if (n == 0) return 0;
        const bool idle = inFlight_.empty() && !delivering_;
        if (idle && n == maxLength && sink_) {
            // Taken whole with nothing before it: the far end has it as it is written.
            sink = sink_;
            delivering_ = true;
        } else {
            inFlight_.insert(inFlight_.end(), bytes, bytes + n);
            if (!idle) return static_cast<long>(n);
        }
    }
    if (!sink) {
        drainLater();
        return static_cast<long>(n);
    }
    sink(Data(bytes, bytes + n));
    {
        std::lock_guard lock(mutex_);
        delivering_ = false;
        if (!inFlight_.empty()) drainLater();
    }
    post(StreamEvent::hasSpaceAvailable);
    return static_cast<long>(n);
}

void OutputStream::drainLater() {
    std::weak_ptr<Stream> weak = weak_from_this();
    drainQueue_->async([weak] {
        if (auto self = weak.lock()) std::static_pointer_cast<OutputStream>(self)->drain();
    });
}

void OutputStream::drain() {
    Data bytes;
    Sink sink;
    {
        std::lock_guard lock(mutex_);
        if (delivering_) return;  // the write delivering now drains what came meanwhile
        bytes.swap(inFlight_);
        sink = sink_;
        delivering_ = !bytes.empty();
    }
    if (bytes.empty()) return;
    if (sink) sink(bytes);
    {
        std::lock_guard lock(mutex_);
        delivering_ = false;
        if (!inFlight_.empty()) drainLater();
    }
    post(StreamEvent::hasSpaceAvailable);
}

void OutputStream::setSink(Sink sink) {
    lockedAssign(mutex_, sink_, std::move(sink));
}

void OutputStream::setCapacity(size_t capacity) {
    lockedAssign(mutex_, capacity_, std::max<size_t>(capacity, 1));
}

}  // namespace qz
