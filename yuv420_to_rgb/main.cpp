#include "yuv420_to_rgb_main.hpp"

int main(int argc, char** argv) {
    return rawframes::yuv420_to_rgb_main(argc, argv);
}
