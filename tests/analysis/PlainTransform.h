#pragma once

// The analysis library's transforms written plainly, as references that the
// optimised code must reproduce bit for bit.

#include "analysis/CMathFunc.h"

#include <cmath>
#include <utility>
#include <vector>

namespace phonaxis::plain {

using Doubles = std::vector<double>;

// The radix-2 transform of N = 2^m points in place: the bit-reversal swaps,
// then each stage with its twiddle advanced by the rotation recurrence,
// butterflies visited twiddle by twiddle.
inline void fft(Doubles& re, Doubles& im, int m)
{
    const int n = 1 << m;
    for (int i = 0, j = 0, k = 0; i < n - 1; ++i, j += k) {
        if (i < j) {
            std::swap(re[i], re[j]), std::swap(im[i], im[j]);
        }
        for (k = n / 2; j >= k; k /= 2) {
            j -= k;
        }
    }
    for (int half = 1; half < n; half *= 2) {
        const double c = std::cos(PI / half), s = std::sin(PI / half);
        double ur = 1.0, ui = 0.0;
        for (int j = 0; j < half; ++j) {
            for (int i = j, p = j + half; i < n; i += 2 * half, p += 2 * half) {
                const double tr = re[p] * ur - im[p] * ui, ti = im[p] * ur + re[p] * ui;
                re[p] = re[i] - tr, im[p] = im[i] - ti, re[i] = re[i] + tr, im[i] = im[i] + ti;
            }
            const double next = ur * c + ui * s;
            ui = ui * c - ur * s, ur = next;
        }
    }
}

} // namespace phonaxis::plain
