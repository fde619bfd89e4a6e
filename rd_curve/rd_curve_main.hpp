// The rd-curve program as a function, so that tests and fuzzers can run it
// in-process; main() only calls it.
#pragma once

namespace rawframes {

// Runs rd-curve with the given arguments and returns its exit status.
int rd_curve_main(int argc, char** argv);

}  // namespace rawframes
