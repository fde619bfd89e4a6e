#include "frame_snr_main.hpp"

int main(int argc, char** argv) {
    return rawframes::frame_snr_main(argc, argv);
}
