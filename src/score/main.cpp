#include <exception>

#include "common/console.h"
#include "score/driver.h"

int main(int argc, char** argv)
{
    hold_standard_descriptors();
    try {
        return run(argc, argv);
    } catch (const std::exception& failure) {
        error("Error: %s\n", failure.what());
    }
}
