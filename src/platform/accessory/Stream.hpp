#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/DispatchQueue.hpp"
#include "platform/Result.hpp"

namespace qz {

// Where stream events are delivered: a stand-in run loop over a dispatch queue.
class RunLoop {
  public:
    explicit RunLoop(std::shared_ptr<DispatchQueue> queue) : queue_(std::move(queue)) {}
    // The main run loop, served by the main queue.
    static std::shared_ptr<RunLoop> main();
    // The run loop of the calling thread: its queue's, or the main one.
    static std::shared_ptr<RunLoop> current();

    const std::shared_ptr<DispatchQueue>& queue() const { return queue_; }
    bool operator==(const RunLoop& other) const { return queue_ == other.queue_; }

  private:
    std::shared_ptr<DispatchQueue> queue_;
};

inline constexpr const char* kDefaultRunLoopMode = "kCFRunLoopDefaultMode";

enum class StreamEvent : unsigned {
    none = 0,
    openCompleted = 1,
    hasBytesAvailable = 2,
    hasSpaceAvailable = 4,
    errorOccurred = 8,
    endEncountered = 16,
};

enum class StreamStatus { notOpen, open, atEnd, closed, error };

std::string describe(StreamEvent event);

class Stream;

// Receives a stream's events on the run loop the stream is scheduled on.
class StreamDelegate {
  public:
    virtual ~StreamDelegate() = default;
    virtual void stream(const std::shared_ptr<Stream>& stream, StreamEvent event) = 0;
};

// One direction of an accessory session. Events reach the delegate (held weakly) only
// while the stream is open and scheduled on a run loop.
class Stream : public std::enable_shared_from_this<Stream> {
  public:
    virtual ~Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    void setDelegate(std::weak_ptr<StreamDelegate> delegate);
    void scheduleInRunLoop(std::shared_ptr<RunLoop> runLoop, const std::string& mode);
    void removeFromRunLoop(const std::shared_ptr<RunLoop>& runLoop, const std::string& mode);
    // Opens the stream; open-completed follows on the run loop.
    virtual void open();
    void close();
    StreamStatus streamStatus() const;

    virtual bool isInput() const = 0;
    std::string description() const;

    // The far end: the stream fails (error event) or ends (end event).
    void fail();
    void finish();

  protected:
    Stream() = default;
    void post(StreamEvent event);

    mutable std::mutex mutex_;
    StreamStatus status_ = StreamStatus::notOpen;

  private:
    std::weak_ptr<StreamDelegate> delegate_;
    std::shared_ptr<RunLoop> runLoop_;
};

// Bytes from the accessory to the host.
class InputStream : public Stream {
  public:
    static std::shared_ptr<InputStream> create();

    bool hasBytesAvailable() const;
    // Reads at most `maxLength` bytes: the count read, 0 when none, -1 on an error.
    long read(uint8_t* buffer, size_t maxLength);
    bool isInput() const override { return true; }

    // The far end: bytes arrive (has-bytes-available follows).
    void deliver(const Data& bytes);
    // The far end: the next read fails with -1 while the bytes stay available.
    void failNextRead();

  private:
    InputStream() = default;
    std::deque<uint8_t> bytes_;
    bool failNextRead_ = false;
};

// Bytes from the host to the accessory. The accessory takes at most `capacity` bytes at a
// time: a write accepts what fits and returns that count; has-space-available follows
// once the accessory has taken the bytes.
class OutputStream : public Stream {
  public:
    using Sink = std::function<void(const Data&)>;
    static std::shared_ptr<OutputStream> create(size_t capacity = 4096);

    void open() override;
    bool hasSpaceAvailable() const;
    // Writes at most `maxLength` bytes: the count accepted (0 when full), -1 when the
    // stream is not open.
    long write(const uint8_t* bytes, size_t maxLength);
    bool isInput() const override { return false; }

    // The far end: where accepted bytes go. A write taken whole while nothing is in flight
    // reaches it as it is written, on the writer's thread; the rest on the stream's own delivery
    // queue, in order.
    void setSink(Sink sink);
    void setCapacity(size_t capacity);

  private:
    explicit OutputStream(size_t capacity);
    void drain();
    void drainLater();

    size_t capacity_;
    Data inFlight_;
    bool delivering_ = false;  // bytes are on their way to the sink
    Sink sink_;
    std::shared_ptr<DispatchQueue> drainQueue_;
};

}  // namespace qz
