#include "process.hpp"
#include "yuv10_to_rgb10_main.hpp"

int main(int argc, char** argv) {
    rawframes::ensure_standard_descriptors();
    return rawframes::yuv10_to_rgb10_main(argc, argv);
}
