#include "rgb10_to_yuv10_main.hpp"
#include "process.hpp"

int main(int argc, char** argv) {
    rawframes::ensure_standard_descriptors();
    return rawframes::rgb10_to_yuv10_main(argc, argv);
}
