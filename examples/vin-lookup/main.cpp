// Prints the library's version and what its offline VIN database, read from the library's
// own resource folder, knows of a VIN. Talks to no sensor and no server.

#include <QZEnhanced/QZEnhanced.hpp>
#include <cstdio>
#include <string>

#include "api/Web/VinDatabase.hpp"

int main(int argc, char** argv) {
    const std::string vin = argc > 1 ? argv[1] : "1HGCM82633A004352";
    std::printf("QZEnhanced %s\n", qz::libraryVersion());
    std::printf("resources: %s\n", qz::Bundle::library().bundlePath().c_str());

    auto vehicle = qz::VinDatabase::lookup(vin);
    if (!vehicle) {
        std::fprintf(stderr, "%s: %s\n", vin.c_str(), qz::describe(vehicle.error()).c_str());
        return 1;
    }
    std::printf("%s: %lld %s %s\n", vin.c_str(), static_cast<long long>(vehicle->year.value_or(0)),
                vehicle->make.value_or("?").c_str(), vehicle->model.value_or("?").c_str());
    return 0;
}
