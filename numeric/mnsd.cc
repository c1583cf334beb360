#include "numeric/mnsd.h"

#include <cmath>

namespace brix::numeric {

void mnsd(const float* x, const std::int32_t& n, float& mean, float& sd) {
  float sum = 0.0f;
  float ss = 0.0f;
  const float fn = static_cast<float>(n);

  if (n < 1) {
    // 0/0 is the default NaN for n = 0 and a negative zero for n < 0; the
    // callers print whatever comes out, so it is not special-cased.
    mean = 0.0f / fn;
  } else {
    for (std::int32_t i = 0; i < n; ++i) sum = x[i] + sum;
    mean = sum / fn;
    // Second pass over the deviations from the rounded mean: squaring the
    // values themselves would lose the small spreads to cancellation.
    const float m = mean;
    for (std::int32_t i = 0; i < n; ++i) {
      const float d = x[i] - m;
      const float dd = d * d;
      ss = dd + ss;
    }
  }
  const float divisor = fn + (-1.0f);
  const float variance = ss / divisor;
  sd = std::sqrt(variance);
}

}  // namespace brix::numeric
