#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace qz {

// Base of the engine objects that records carry by reference (code stores, tables).
class QZEObject {
  public:
    virtual ~QZEObject() = default;
};

// A dynamic value of a record's extras or a definition table: none, text, integer, double,
// boolean, list, dictionary or a shared engine object. Lists, dictionaries and objects are held
// by reference, so copying a value is shallow.
class QZEValue {
  public:
    using List = std::vector<QZEValue>;
    using Dictionary = std::map<std::string, QZEValue>;

    QZEValue() = default;
    QZEValue(std::nullptr_t) {}
    QZEValue(std::string text) : m_value(std::move(text)) {}
    QZEValue(const char* text) : m_value(std::string(text)) {}
    QZEValue(int64_t number) : m_value(number) {}
    QZEValue(int number) : m_value(int64_t{number}) {}
    QZEValue(double number) : m_value(number) {}
    QZEValue(bool flag) : m_value(flag) {}
    QZEValue(List list) : m_value(std::make_shared<List>(std::move(list))) {}
    QZEValue(Dictionary dict) : m_value(std::make_shared<Dictionary>(std::move(dict))) {}
    QZEValue(std::shared_ptr<List> list) : m_value(std::move(list)) {}
    QZEValue(std::shared_ptr<Dictionary> dict) : m_value(std::move(dict)) {}
    template <class T>
    requires std::is_base_of_v<QZEObject, T> QZEValue(std::shared_ptr<T> object)
        : m_value(std::shared_ptr<QZEObject>(std::move(object))) {}

    bool isNull() const;
    bool isText() const { return std::holds_alternative<std::string>(m_value); }
    bool isNumber() const;
    bool isList() const { return list() != nullptr; }
    bool isDictionary() const { return dictionary() != nullptr; }

    // The text, or none when the value is not a text.
    std::optional<std::string> text() const;
    // The integer reading: a number truncated, a boolean 0 or 1, a text's leading decimal number
    // (blanks skipped, optional sign; 0 when none). Everything else reads 0.
    int64_t integerValue() const;
    // As integerValue for doubles: a text's leading decimal number, else 0.
    double doubleValue() const;
    // The flag rule: "1" or 1 is yes, absent, none or "0" is no (any non-zero reading is yes).
    bool flag() const { return integerValue() != 0; }

    // The referenced containers, or null when the value is not one (mutable: they are shared).
    std::shared_ptr<List> list() const;
    std::shared_ptr<Dictionary> dictionary() const;
    // The referenced object of type T, or null.
    template <class T>
    std::shared_ptr<T> object() const {
        auto p = std::get_if<std::shared_ptr<QZEObject>>(&m_value);
        return p ? std::dynamic_pointer_cast<T>(*p) : nullptr;
    }

    // Same kind and same content; containers compare by content, objects by identity.
    friend bool operator==(const QZEValue& a, const QZEValue& b);

    // Plain data as JSON (objects become null).
    nlohmann::ordered_json toJson() const;
    static QZEValue fromJson(const nlohmann::json& json);

  private:
    std::variant<std::monostate, std::string, int64_t, double, bool, std::shared_ptr<List>,
                 std::shared_ptr<Dictionary>, std::shared_ptr<QZEObject>>
        m_value;
};

using QZEDictionary = QZEValue::Dictionary;

// The flag rule applied to a dictionary entry: absent is no.
bool flagValue(const std::optional<QZEDictionary>& dict, const std::string& key);

}  // namespace qz
