#pragma once

// The converter's inner pieces, shared by its general code and its runs made per format.
#include "join/Convert.h"

namespace tandrel {

// Every step of the accumulator is rounded to single precision, also where the compiler
// would otherwise keep more (x87).
inline float RoundedSum(float a, float b) {
#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ != 0
    volatile float r = a + b;
    return r;
#else
    return a + b;
#endif
}

// Sample widths and channel counts the made-to-measure runs serve: plain PCM of one or two
// channels, never fewer bits or channels out than in.
bool HasRepeatRun(const PcmFormat &in, const PcmFormat &out);

} // namespace tandrel
