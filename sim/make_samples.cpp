// Writes the bundled sample card images: zrn-make-samples <directory>
// (normally samples/). Not run by the build; rerun it after changing
// sim/samples.cpp and commit the result.

#include <exception>
#include <iostream>
#include <string>

#include "sim/card_image.h"
#include "sim/samples.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: zrn-make-samples <directory>\n";
        return 2;
    }
    const std::string directory = argv[1];
    try {
        zrn::sim::saveImage(zrn::sim::standardSample(), directory + "/standard.json");
        zrn::sim::saveImage(zrn::sim::extendedSample(), directory + "/extended.json");
        zrn::sim::saveImage(zrn::sim::pinSample(), directory + "/standard-pin.json");
    } catch (const std::exception& error) {
        std::cerr << "zrn-make-samples: " << error.what() << "\n";
        return 1;
    }
    std::cout << "wrote standard.json, extended.json and standard-pin.json in " << directory
              << "\n";
    return 0;
}
