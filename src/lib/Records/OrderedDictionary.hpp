#pragma once

#include <algorithm>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/KeyedArchive.hpp"

namespace qz {

// A dictionary that remembers the order in which its keys were first added.
// Invariant: `array` holds each key of `dictionary` exactly once, in insertion order.
template <class Value, class Key = std::string>
class OrderedDictionary {
  public:
    OrderedDictionary() = default;
    explicit OrderedDictionary(size_t capacity) {
        m_dictionary.reserve(capacity);
        m_array.reserve(capacity);
    }

    // A new key is appended; an existing key keeps its position and takes the new value.
    void setObject(Value value, const Key& key) {
        auto it = m_dictionary.find(key);
        if (it == m_dictionary.end()) {
            m_array.push_back(key);
            m_dictionary.emplace(key, std::move(value));
        } else {
            it->second = std::move(value);
        }
    }

    // Moves an existing key: it is removed first, then inserted at the index (clamped to the end).
    void insertObject(Value value, const Key& key, size_t index) {
        removeObjectForKey(key);
        index = std::min(index, m_array.size());
        m_array.insert(m_array.begin() + static_cast<std::ptrdiff_t>(index), key);
        m_dictionary.emplace(key, std::move(value));
    }

    void removeObjectForKey(const Key& key) {
        if (m_dictionary.erase(key) == 0) return;
        m_array.erase(std::find(m_array.begin(), m_array.end(), key));
    }

    void removeAllObjects() {
        m_dictionary.clear();
        m_array.clear();
    }

    size_t count() const { return m_dictionary.size(); }

    // The value, or null when the key is absent.
    const Value* objectForKey(const Key& key) const {
        auto it = m_dictionary.find(key);
        return it == m_dictionary.end() ? nullptr : &it->second;
    }
    Value* objectForKey(const Key& key) {
        auto it = m_dictionary.find(key);
        return it == m_dictionary.end() ? nullptr : &it->second;
    }
    bool contains(const Key& key) const { return m_dictionary.count(key) != 0; }

    // The keys in insertion order.
    const std::vector<Key>& allKeys() const { return m_array; }
    const std::vector<Key>& keyEnumerator() const { return m_array; }
    std::vector<Key> reverseKeyEnumerator() const { return {m_array.rbegin(), m_array.rend()}; }
    // None when the index is out of range.
    std::optional<Key> keyAtIndex(size_t index) const {
        if (index >= m_array.size()) return std::nullopt;
        return m_array[index];
    }

    // Adds the other's entries whose keys are not present yet; existing keys keep their values.
    template <class Map>
    void addEntriesFromDictionary(const Map& other) {
        for (const auto& [key, value] : other)
            if (!contains(key)) setObject(value, key);
    }
    void addEntriesFromOrderedDictionary(const OrderedDictionary& other) {
        for (const auto& key : other.m_array)
            if (!contains(key)) setObject(other.m_dictionary.at(key), key);
    }

    // An independent copy of both stores (values themselves are copied as values).
    OrderedDictionary copy() const { return *this; }

    // Archived as "dict" (key to value) and "array" (the keys in order); `encodeValue` turns a
    // value into JSON.
    template <class Encode>
    void encode(KeyedArchiver& coder, Encode encodeValue) const {
        auto dict = nlohmann::ordered_json::object();
        for (const auto& key : m_array) dict[keyText(key)] = encodeValue(m_dictionary.at(key));
        coder.encode("dict", std::move(dict));
        coder.encode("array", nlohmann::ordered_json(m_array));
    }

    // Rebuilds from "dict" and "array"; keys in "array" without a value, and values whose key is
    // not in "array", are left out so the invariant holds. `decodeValue` returns an optional.
    template <class Decode>
    static OrderedDictionary decode(const KeyedUnarchiver& coder, Decode decodeValue) {
        OrderedDictionary out;
        auto dict = coder.decode("dict");
        auto array = coder.decode("array");
        if (!dict || !array || !dict->is_object() || !array->is_array()) return out;
        for (const auto& k : *array) {
            Key key;
            try {
                key = k.template get<Key>();
            } catch (const nlohmann::json::exception&) {
                continue;
            }
            auto it = dict->find(keyText(key));
            if (it == dict->end()) continue;
            if (auto value = decodeValue(*it)) out.setObject(std::move(*value), key);
        }
        return out;
    }

    auto begin() const { return m_array.begin(); }
    auto end() const { return m_array.end(); }

  private:
    static std::string keyText(const Key& key) {
        if constexpr (std::is_convertible_v<Key, std::string>)
            return key;
        else
            return std::to_string(key);
    }

    std::unordered_map<Key, Value> m_dictionary;
    std::vector<Key> m_array;
};

}  // namespace qz
