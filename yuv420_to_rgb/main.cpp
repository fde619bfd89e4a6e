#include "process.hpp"
#include "yuv420_to_rgb_main.hpp"

int main(int argc, char** argv) {
    rawframes::ensure_standard_descriptors();
    return rawframes::yuv420_to_rgb_main(argc, argv);
}
