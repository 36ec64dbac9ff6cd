#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qz {

// A keyed archive: values kept under text keys in the order they were encoded, written out as
// a JSON object.
class KeyedArchiver {
  public:
    // None is encoded as null, so a decoder tells "absent" from "empty".
    void encode(const std::string& key, const std::optional<std::string>& text);
    void encode(const std::string& key, const std::optional<std::vector<std::string>>& texts);
    void encode(const std::string& key, nlohmann::ordered_json value);

    const nlohmann::ordered_json& archive() const { return m_archive; }
    std::string data() const { return m_archive.dump(); }

  private:
    nlohmann::ordered_json m_archive = nlohmann::ordered_json::object();
};

class KeyedUnarchiver {
  public:
    explicit KeyedUnarchiver(nlohmann::ordered_json archive);
    // None when the text is not a JSON object.
    static std::optional<KeyedUnarchiver> fromData(const std::string& data);

    // None when the key is missing, null or of another type.
    std::optional<std::string> decodeText(const std::string& key) const;
    std::optional<std::vector<std::string>> decodeTextList(const std::string& key) const;
    // The raw value, or null when the key is missing.
    const nlohmann::ordered_json* decode(const std::string& key) const;

  private:
    nlohmann::ordered_json m_archive;
};

}  // namespace qz
