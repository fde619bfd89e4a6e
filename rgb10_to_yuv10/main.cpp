#include "rgb10_to_yuv10_main.hpp"

int main(int argc, char** argv) {
    return rawframes::rgb10_to_yuv10_main(argc, argv);
}
