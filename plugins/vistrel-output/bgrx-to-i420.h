#pragma once

#include <cstdint>

// Converts 32-bit pixels in blue, green, red, spare byte order to limited-range BT.709 I420;
// each chroma sample is the mean of its 2x2 block. About three times as fast as the general
// converter, which matters once per picture at 1080p30.
void bgrxToI420(const uint8_t *bgrx, int stride, int width, int height, uint8_t *const planes[3],
                const int strides[3]);
