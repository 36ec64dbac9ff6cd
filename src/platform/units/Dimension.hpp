#pragma once

#include <optional>
#include <string>
#include <typeinfo>

namespace qz {

// Linear conversion to a dimension's base unit: base = value * coefficient + constant.
struct UnitConverterLinear {
    double coefficient = 1.0;
    double constant = 0.0;

    double baseUnitValue(double value) const { return value * coefficient + constant; }
    double value(double baseUnitValue) const { return (baseUnitValue - constant) / coefficient; }
};

// A unit of one physical dimension: a symbol and a converter to the dimension's base unit.
// Each dimension is a subclass without fields of its own; units of one dimension are the objects
// of one subclass. Units are shared and immutable: the dimension classes create each unit once
// per process and hand out references to it.
class Dimension {
  public:
    Dimension(std::string symbol, std::optional<UnitConverterLinear> converter)
        : symbol_(std::move(symbol)), converter_(converter) {}
    virtual ~Dimension() = default;
    Dimension(const Dimension&) = delete;
    Dimension& operator=(const Dimension&) = delete;

    const std::string& symbol() const { return symbol_; }
    // Absent for units made from a symbol alone; such a unit converts like the base unit.
    const std::optional<UnitConverterLinear>& converter() const { return converter_; }

    // Same dimension class (so values of the two convert into each other).
    bool sameDimension(const Dimension& other) const { return typeid(*this) == typeid(other); }

    double toBase(double v) const { return converter_ ? converter_->baseUnitValue(v) : v; }
    double fromBase(double b) const { return converter_ ? converter_->value(b) : b; }

  private:
    std::string symbol_;
    std::optional<UnitConverterLinear> converter_;
};

// A number with a unit. `unit` is never null.
struct Measurement {
    double value = 0.0;
    const Dimension* unit = nullptr;

    // The same quantity in `target`, going through the dimension's base unit. Units of different
    // dimensions do not convert: the measurement is returned unchanged.
    Measurement converted(const Dimension& target) const {
        if (unit == &target) return *this;
        if (!unit || !unit->sameDimension(target)) return *this;
        return Measurement{target.fromBase(unit->toBase(value)), &target};
    }

    bool operator==(const Measurement& o) const { return value == o.value && unit == o.unit; }
};

}  // namespace qz
