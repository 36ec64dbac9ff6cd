#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "api/PIDs/BinaryIndexedPID.hpp"
#include "api/PIDs/BinaryPID.hpp"
#include "api/PIDs/BinarySumPID.hpp"
#include "api/PIDs/DirectDataPID.hpp"
#include "api/PIDs/Enums/ValueEnumerations.hpp"
#include "api/PIDs/Mode1/PIDRow.hpp"
#include "api/PIDs/NumericPID.hpp"
#include "api/PIDs/PartialByteNumericPID.hpp"
#include "api/PIDs/SignedNumericPID.hpp"
#include "api/PIDs/SpecialPIDClasses.hpp"

// Every Mode 1 parameter class, declared from the one table in Mode1PIDTable.inc. Each class is
// a thin name over its base: `PID010C(mode)` builds the object from the class's row.
namespace qz {

// Position of each class's row in the table.
enum class Mode1Class : uint16_t {
#define QZ_PID(Class, Base, row) Class,
#define QZ_PID13(Class, Base, row) Class,
#include "api/PIDs/Mode1/Mode1PIDTable.inc"
#undef QZ_PID
#undef QZ_PID13
    count
};

#define QZ_PID(Class, Base, row)                              \
    class Class final : public Base {                         \
      public:                                                 \
        using Super = Base;                                   \
        using Super::Super;                                   \
        explicit Class(Mode mode = Mode::LiveData);           \
        static constexpr std::string_view className = #Class; \
    };
#define QZ_PID13(Class, Base, row)                                           \
    class Class final : public Base, public PIDDeterminedByPID13 {           \
      public:                                                                \
        using Super = Base;                                                  \
        using Super::Super;                                                  \
        explicit Class(Mode mode = Mode::LiveData);                          \
        static constexpr std::string_view className = #Class;                \
        void conformBasedOnPIDS(const std::vector<uint8_t>& val13,           \
                                const std::vector<uint8_t>& val1D) override; \
    };
#include "api/PIDs/Mode1/Mode1PIDTable.inc"
#undef QZ_PID
#undef QZ_PID13

// One class of the table: its name, its row and a maker of a fresh object.
struct Mode1ClassInfo {
    std::string_view name;
    const PIDRow* row;
    std::shared_ptr<PIDInfo> (*make)(Mode mode);
};

// Every class, in table order (the catalogue's classes first, in catalogue order).
std::span<const Mode1ClassInfo> mode1Classes();

const PIDRow& mode1Row(Mode1Class c);

// The oxygen-sensor and fuel-trim rules: support, names and answer length from the first bytes
// of the answers to 01 13 and 01 1D.
void conformToSensorLayout(PIDInfo& pid, const PIDRow& row, const std::vector<uint8_t>& val13,
                           const std::vector<uint8_t>& val1D);

}  // namespace qz
