// The yuv10-to-rgb10 program as a function, so that tests and fuzzers can run it
// in-process; main() only calls it.
#pragma once

namespace rawframes {

// Runs yuv10-to-rgb10 with the given arguments and returns its exit status.
int yuv10_to_rgb10_main(int argc, char** argv);

}  // namespace rawframes
