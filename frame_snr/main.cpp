#include "frame_snr_main.hpp"
#include "process.hpp"

int main(int argc, char** argv) {
    rawframes::ensure_standard_descriptors();
    return rawframes::frame_snr_main(argc, argv);
}
