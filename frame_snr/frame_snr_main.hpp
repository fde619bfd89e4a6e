// The frame-snr program as a function, so that tests and fuzzers can run it
// in-process; main() only calls it.
#pragma once

namespace rawframes {

// Runs frame-snr with the given arguments and returns its exit status.
int frame_snr_main(int argc, char** argv);

}  // namespace rawframes
