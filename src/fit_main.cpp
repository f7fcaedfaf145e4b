#include "fit_driver.h"

int main(int argc, char** argv)
{
    return run_fit(argc, argv);
}
