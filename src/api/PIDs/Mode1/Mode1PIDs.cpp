#include "api/PIDs/Mode1/Mode1PIDs.hpp"

#include <array>

namespace qz {
namespace {

using namespace rows;
using U = UnitId;

constexpr PIDRow kRows[] = {
#define QZ_PID(Class, Base, row) row,
#define QZ_PID13(Class, Base, row) row,
#include "api/PIDs/Mode1/Mode1PIDTable.inc"
#undef QZ_PID
#undef QZ_PID13
};
static_assert(std::size(kRows) == static_cast<size_t>(Mode1Class::count));

const Mode1ClassInfo kClasses[] = {
#define QZ_PID(Class, Base, row)                             \
    {#Class, &kRows[static_cast<size_t>(Mode1Class::Class)], \
     [](Mode mode) -> std::shared_ptr<PIDInfo> { return std::make_shared<Class>(mode); }},
#define QZ_PID13(Class, Base, row) QZ_PID(Class, Base, row)
#include "api/PIDs/Mode1/Mode1PIDTable.inc"
#undef QZ_PID
#undef QZ_PID13
};

}  // namespace

#define QZ_PID(Class, Base, row) static_assert(FinalPID<Class>);
#define QZ_PID13(Class, Base, row) static_assert(FinalPID<Class>);
#include "api/PIDs/Mode1/Mode1PIDTable.inc"
#undef QZ_PID
#undef QZ_PID13

#define QZ_PID(Class, Base, row) \
    Class::Class(Mode mode) : Base(mode, kRows[static_cast<size_t>(Mode1Class::Class)]) {}
#define QZ_PID13(Class, Base, row)                                                                 \
    QZ_PID(Class, Base, row)                                                                       \
    void Class::conformBasedOnPIDS(const std::vector<uint8_t>& val13,                              \
                                   const std::vector<uint8_t>& val1D) {                            \
        conformToSensorLayout(*this, kRows[static_cast<size_t>(Mode1Class::Class)], val13, val1D); \
    }
#include "api/PIDs/Mode1/Mode1PIDTable.inc"
#undef QZ_PID
#undef QZ_PID13

std::span<const Mode1ClassInfo> mode1Classes() {
    return kClasses;
}

const PIDRow& mode1Row(Mode1Class c) {
    return kRows[static_cast<size_t>(c)];
}

}  // namespace qz
