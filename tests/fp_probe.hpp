// Probes of how this build evaluates floating-point expressions. They are
// compiled with the same flags as the conversion kernels, so a build that
// contracts a * b + c into one fused operation or reassociates sums (which the
// conversions must never do) shows up in the probes' results.
#pragma once

namespace rawframes {

// a * b + c, written as two operations.
double fp_probe_mul_add(double a, double b, double c);
// (a + b) + c, written in this order.
double fp_probe_sum(double a, double b, double c);

}  // namespace rawframes
