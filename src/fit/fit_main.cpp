#include "common/console.h"
#include "fit/fit_driver.h"

int main(int argc, char** argv)
{
    hold_standard_descriptors();
    return run_fit(argc, argv);
}
