#include "process.hpp"
#include "rgb10_to_yuv10_main.hpp"

int main(int argc, char** argv) {
    rawframes::ensure_standard_descriptors();
    return rawframes::rgb10_to_yuv10_main(argc, argv);
}
