#include "fp_probe.hpp"

namespace rawframes {

double fp_probe_mul_add(double a, double b, double c) {
    return a * b + c;
}
double fp_probe_sum(double a, double b, double c) {
    return (a + b) + c;
}

}  // namespace rawframes
