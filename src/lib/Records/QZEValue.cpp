#include "lib/Records/QZEValue.hpp"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace qz {

namespace {

// The leading decimal integer of a text, saturated to 64 bits.
int64_t leadingInteger(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int64_t value = 0;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
        int digit = s[i] - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10)
            return negative ? std::numeric_limits<int64_t>::min()
                            : std::numeric_limits<int64_t>::max();
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

int64_t truncated(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
    if (d <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
}

}  // namespace

bool QZEValue::isNull() const {
    return std::holds_alternative<std::monostate>(m_value);
}

bool QZEValue::isNumber() const {
    return std::holds_alternative<int64_t>(m_value) || std::holds_alternative<double>(m_value) ||
           std::holds_alternative<bool>(m_value);
}

std::optional<std::string> QZEValue::text() const {
    if (auto p = std::get_if<std::string>(&m_value)) return *p;
    return std::nullopt;
}

int64_t QZEValue::integerValue() const {
    if (auto p = std::get_if<int64_t>(&m_value)) return *p;
    if (auto p = std::get_if<double>(&m_value)) return truncated(*p);
    if (auto p = std::get_if<bool>(&m_value)) return *p ? 1 : 0;
    if (auto p = std::get_if<std::string>(&m_value)) return leadingInteger(*p);
    return 0;
}

double QZEValue::doubleValue() const {
    if (auto p = std::get_if<int64_t>(&m_value)) return static_cast<double>(*p);
    if (auto p = std::get_if<double>(&m_value)) return *p;
    if (auto p = std::get_if<bool>(&m_value)) return *p ? 1.0 : 0.0;
    if (auto p = std::get_if<std::string>(&m_value)) {
        const char* begin = p->c_str();
        char* end = nullptr;
        double d = std::strtod(begin, &end);
        return end == begin || !std::isfinite(d) ? 0.0 : d;
    }
    return 0.0;
}

std::shared_ptr<QZEValue::List> QZEValue::list() const {
    if (auto p = std::get_if<std::shared_ptr<List>>(&m_value)) return *p;
    return nullptr;
}

std::shared_ptr<QZEValue::Dictionary> QZEValue::dictionary() const {
    if (auto p = std::get_if<std::shared_ptr<Dictionary>>(&m_value)) return *p;
    return nullptr;
}

bool operator==(const QZEValue& a, const QZEValue& b) {
    if (a.m_value.index() != b.m_value.index()) return false;
    if (auto l = a.list()) {
        auto r = b.list();
        return l == r || (l && r && *l == *r);
    }
    if (auto l = a.dictionary()) {
        auto r = b.dictionary();
        return l == r || (l && r && *l == *r);
    }
    return a.m_value == b.m_value;
}

nlohmann::ordered_json QZEValue::toJson() const {
    if (auto p = std::get_if<std::string>(&m_value)) return *p;
    if (auto p = std::get_if<int64_t>(&m_value)) return *p;
    if (auto p = std::get_if<double>(&m_value)) return *p;
    if (auto p = std::get_if<bool>(&m_value)) return *p;
    if (auto l = list()) {
        auto out = nlohmann::ordered_json::array();
        for (const auto& v : *l) out.push_back(v.toJson());
        return out;
    }
    if (auto d = dictionary()) {
        auto out = nlohmann::ordered_json::object();
        for (const auto& [k, v] : *d) out[k] = v.toJson();
        return out;
    }
    return nullptr;
}

QZEValue QZEValue::fromJson(const nlohmann::json& json) {
    switch (json.type()) {
        case nlohmann::json::value_t::string:
            return QZEValue(json.get<std::string>());
        case nlohmann::json::value_t::boolean:
            return QZEValue(json.get<bool>());
        case nlohmann::json::value_t::number_integer:
            return QZEValue(json.get<int64_t>());
        case nlohmann::json::value_t::number_unsigned: {
            auto u = json.get<uint64_t>();
            if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
                return QZEValue(static_cast<double>(u));
            return QZEValue(static_cast<int64_t>(u));
        }
        case nlohmann::json::value_t::number_float:
            return QZEValue(json.get<double>());
        case nlohmann::json::value_t::array: {
            List list;
            list.reserve(json.size());
            for (const auto& v : json) list.push_back(fromJson(v));
            return QZEValue(std::move(list));
        }
        case nlohmann::json::value_t::object: {
            Dictionary dict;
            for (auto it = json.begin(); it != json.end(); ++it) dict[it.key()] = fromJson(*it);
            return QZEValue(std::move(dict));
        }
        default:
            return QZEValue();
    }
}

bool flagValue(const std::optional<QZEDictionary>& dict, const std::string& key) {
    if (!dict) return false;
    auto it = dict->find(key);
    return it != dict->end() && it->second.flag();
}

}  // namespace qz
