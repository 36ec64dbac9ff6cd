#pragma once

#include <array>
#include <atomic>
#include <concepts>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace qz {

// Table of one value enumeration: specialised per enumeration with
//   texts           the display text of each case, in case order (order 0 is the unknown case);
//   initialDefault  the case that stands when an answer selects none;
//   settable        whether the host may replace that default;
//   orderFor(i)     the case order an index selects, or -1 when it selects none.
template <class E>
struct PIDEnumTable;

// An enumeration whose cases are listed in order and indexed by a rule (`E[index]`).
template <class E>
concept CaseIndexable = requires {
    PIDEnumTable<E>::texts;
    PIDEnumTable<E>::initialDefault;
    PIDEnumTable<E>::orderFor(int64_t{0});
};

// The plain index rule: index i selects the case of order i + 1, for i in -1 ... count - 2.
constexpr int plainOrder(int64_t index, size_t count) {
    return (index >= -1 && index <= static_cast<int64_t>(count) - 2) ? static_cast<int>(index + 1)
                                                                     : -1;
}

template <CaseIndexable E>
constexpr size_t caseCount() {
    return PIDEnumTable<E>::texts.size();
}

// Display text of a case.
template <CaseIndexable E>
constexpr std::string_view rawValue(E e) {
    return PIDEnumTable<E>::texts[static_cast<size_t>(e)];
}

// The case whose display text equals `text` exactly.
template <CaseIndexable E>
constexpr std::optional<E> fromRawValue(std::string_view text) {
    const auto& texts = PIDEnumTable<E>::texts;
    for (size_t i = 0; i < texts.size(); ++i)
        if (texts[i] == text) return static_cast<E>(i);
    return std::nullopt;
}

// An enumeration whose cases have display texts (`rawValue`).
template <class E>
concept PIDEnum = CaseIndexable<E> && requires(E e) {
    { rawValue(e) } -> std::convertible_to<std::string_view>;
};

template <CaseIndexable E>
std::vector<E> allCases() {
    std::vector<E> out;
    for (size_t i = 0; i < caseCount<E>(); ++i) out.push_back(static_cast<E>(i));
    return out;
}

namespace detail {
template <CaseIndexable E>
std::atomic<E>& defaultStorage() {
    static std::atomic<E> value{PIDEnumTable<E>::initialDefault};
    return value;
}
}  // namespace detail

// The case that stands when an answer selects none; one value per enumeration and process.
template <CaseIndexable E>
E defaultValue() {
    return detail::defaultStorage<E>().load(std::memory_order_relaxed);
}

// Replaces the default for the whole process (only enumerations whose default is settable).
template <CaseIndexable E>
requires(PIDEnumTable<E>::settable) void setDefaultValue(E e) {
    detail::defaultStorage<E>().store(e, std::memory_order_relaxed);
}

// `E[index]`: the case the index selects under E's rule, or the default.
template <CaseIndexable E>
E caseAt(int64_t index) {
    int order = PIDEnumTable<E>::orderFor(index);
    if (order < 0 || static_cast<size_t>(order) >= caseCount<E>()) return defaultValue<E>();
    return static_cast<E>(order);
}

}  // namespace qz
