// The yuv420-to-rgb program as a function, so that tests and fuzzers can run it
// in-process; main() only calls it.
#pragma once

namespace rawframes {

// Runs yuv420-to-rgb with the given arguments and returns its exit status.
int yuv420_to_rgb_main(int argc, char** argv);

}  // namespace rawframes
