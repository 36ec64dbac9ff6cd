#include "sim/SensorDisplay.hpp"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <utility>

namespace qz::sim::display {

namespace {

Message slice(const Message& bytes, size_t from, size_t count) {
    from = std::min(from, bytes.size());
    count = std::min(count, bytes.size() - from);
    return Message(bytes.begin() + static_cast<long>(from),
                   bytes.begin() + static_cast<long>(from + count));
}

// Collects the lines of one module's answer; with headers on, the first line (or every line)
// starts with the module's identifier.
class Lines {
  public:
    Lines(std::string head, bool everyLine, bool spaces)
        : head_(std::move(head)), everyLine_(everyLine), spaces_(spaces) {}
    void add(const std::string& text) {
        if (!head_.empty())
            out_ += (everyLine_ ? head_ : std::exchange(head_, {})) + (spaces_ ? " " : "");
        out_ += text + "\r";
    }
    std::string text() && { return std::move(out_); }

  private:
    std::string head_;
    bool everyLine_;
    bool spaces_;
    std::string out_;
};

}  // namespace

std::string byteText(const Message& bytes, bool spaces) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (uint8_t b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
        if (spaces) out.push_back(' ');
    }
    return out;
}

std::vector<Message> isoTpFrames(const Message& payload, std::optional<uint8_t> address) {
    const size_t room = address ? 7 : 8;  // data bytes of a CAN frame after the address byte
    auto frame = [&](std::initializer_list<uint8_t> pci, size_t from, size_t count) {
        Message f;
        // GCC 12 sees the vector's inlined insert here read past its source (a false warning).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-overread"
        if (address) f.push_back(*address);
        f.insert(f.end(), pci);
#pragma GCC diagnostic pop
        Message data = slice(payload, from, count);
        f.insert(f.end(), data.begin(), data.end());
        return f;
    };
    const size_t size = payload.size();
    if (size < room) return {frame({static_cast<uint8_t>(size)}, 0, size)};
    std::vector<Message> frames;
    frames.push_back(frame(
        {static_cast<uint8_t>(0x10 | ((size >> 8) & 0x0F)), static_cast<uint8_t>(size & 0xFF)}, 0,
        room - 2));
    uint8_t sequence = 1;
    for (size_t at = room - 2; at < size; at += room - 1, sequence = (sequence + 1) & 0x0F)
        frames.push_back(frame({static_cast<uint8_t>(0x20 | sequence)}, at, room - 1));
    return frames;
}

std::string identifierText(uint32_t id, bool wide, bool bytes) {
    char text[16];
    if (!wide)
        std::snprintf(text, sizeof text, "%03X", id);
    else if (bytes)
        std::snprintf(text, sizeof text, "%02X %02X %02X %02X", id >> 24, (id >> 16) & 0xFF,
                      (id >> 8) & 0xFF, id & 0xFF);
    else
        std::snprintf(text, sizeof text, "%08X", id);
    return text;
}

std::string canAnswer(const std::vector<Message>& messages, const Can& view) {
    std::string identifier = view.headers ? view.identifier : std::string();
    if (!view.spaces)
        identifier.erase(std::remove(identifier.begin(), identifier.end(), ' '), identifier.end());
    Lines lines(identifier, view.everyLine, view.spaces);
    const char* marker = view.spaces ? "%X: " : "%X:";
    for (const auto& message : messages) {
        if (view.raw) {
            for (size_t at = 0; at < message.size(); at += 8)
                lines.add(byteText(slice(message, at, 8), view.spaces));
        } else if (view.headers || view.address) {
            for (const auto& frame : isoTpFrames(message, view.address))
                lines.add(byteText(frame, view.spaces));
        } else if (message.size() <= 7) {
            lines.add(byteText(message, view.spaces));
        } else {
            // Headers off: the length, then each frame's data behind its sequence number.
            char text[8];
            std::snprintf(text, sizeof text, "%03zX", message.size() & 0xFFF);
            lines.add(text);
            unsigned sequence = 0;
            for (size_t at = 0; at < message.size();
                 at += at == 0 ? 6 : 7, sequence = (sequence + 1) & 0x0F) {
                std::snprintf(text, sizeof text, marker, sequence);
                lines.add(text + byteText(slice(message, at, at == 0 ? 6 : 7), view.spaces));
            }
        }
    }
    return std::move(lines).text();
}

std::string kLineAnswer(const std::vector<Message>& messages, const KLine& view) {
    std::string out;
    for (const auto& message : messages) {
        if (!view.headers) {
            out += byteText(message, view.spaces) + "\r";
            continue;
        }
        const bool inFormat = view.lengthInFormat && message.size() <= 0x3F;
        const auto length = static_cast<uint8_t>(message.size());
        Message bytes{static_cast<uint8_t>((view.format & 0xC0) | (inFormat ? length : 0)),
                      view.target, view.source};
        if (view.iso9141)
            bytes = {0x48, 0x6B, view.source};
        else if (!inFormat)
            bytes.push_back(length);
        bytes.insert(bytes.end(), message.begin(), message.end());
        unsigned sum = 0;
        for (uint8_t b : bytes) sum += b;
        bytes.push_back(static_cast<uint8_t>(sum));
        out += byteText(bytes, view.spaces) + "\r";
    }
    return out;
}

std::string j1850Answer(const std::vector<Message>& messages, const J1850& view) {
    std::string out;
    for (const auto& message : messages) {
        if (!view.headers) {
            out += byteText(message, view.spaces) + "\r";
            continue;
        }
        Message bytes{view.priority, view.target, view.source};
        bytes.insert(bytes.end(), message.begin(), message.end());
        bytes.push_back(j1850Crc(bytes));
        out += byteText(bytes, view.spaces) + "\r";
    }
    return out;
}

uint8_t j1850Crc(const Message& bytes) {
    uint8_t crc = 0xFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x1D : crc << 1);
    }
    return static_cast<uint8_t>(~crc);
}

}  // namespace qz::sim::display
