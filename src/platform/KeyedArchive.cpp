#include "platform/KeyedArchive.hpp"

namespace qz {

void KeyedArchiver::encode(const std::string& key, const std::optional<std::string>& text) {
    m_archive[key] = text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
}

void KeyedArchiver::encode(const std::string& key,
                           const std::optional<std::vector<std::string>>& texts) {
    m_archive[key] = texts ? nlohmann::ordered_json(*texts) : nlohmann::ordered_json(nullptr);
}

void KeyedArchiver::encode(const std::string& key, nlohmann::ordered_json value) {
    m_archive[key] = std::move(value);
}

KeyedUnarchiver::KeyedUnarchiver(nlohmann::ordered_json archive) : m_archive(std::move(archive)) {
    if (!m_archive.is_object()) m_archive = nlohmann::ordered_json::object();
}

std::optional<KeyedUnarchiver> KeyedUnarchiver::fromData(const std::string& data) {
    auto json = nlohmann::ordered_json::parse(data, nullptr, false);
    if (json.is_discarded() || !json.is_object()) return std::nullopt;
    return KeyedUnarchiver(std::move(json));
}

const nlohmann::ordered_json* KeyedUnarchiver::decode(const std::string& key) const {
    auto it = m_archive.find(key);
    return it == m_archive.end() ? nullptr : &*it;
}

std::optional<std::string> KeyedUnarchiver::decodeText(const std::string& key) const {
    auto v = decode(key);
    if (!v || !v->is_string()) return std::nullopt;
    return v->get<std::string>();
}

std::optional<std::vector<std::string>> KeyedUnarchiver::decodeTextList(
    const std::string& key) const {
    auto v = decode(key);
    if (!v || !v->is_array()) return std::nullopt;
    std::vector<std::string> out;
    out.reserve(v->size());
    for (const auto& item : *v) {
        if (!item.is_string()) return std::nullopt;
        out.push_back(item.get<std::string>());
    }
    return out;
}

}  // namespace qz
