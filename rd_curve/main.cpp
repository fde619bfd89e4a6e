#include "process.hpp"
#include "rd_curve_main.hpp"

int main(int argc, char** argv) {
    rawframes::ensure_standard_descriptors();
    return rawframes::rd_curve_main(argc, argv);
}
