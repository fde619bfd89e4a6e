#include "dovrak_main.hpp"
#include "process.hpp"

int main(int argc, char** argv) {
    rawframes::ensure_standard_descriptors();
    return rawframes::dovrak_main(argc, argv);
}
