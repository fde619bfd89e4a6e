// The rgb10-to-yuv10 program as a function, so that tests and fuzzers can run it
// in-process; main() only calls it.
#pragma once

namespace rawframes {

// Runs rgb10-to-yuv10 with the given arguments and returns its exit status.
int rgb10_to_yuv10_main(int argc, char** argv);

}  // namespace rawframes
