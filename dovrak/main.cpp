#include "dovrak_main.hpp"

int main(int argc, char** argv) {
    return rawframes::dovrak_main(argc, argv);
}
