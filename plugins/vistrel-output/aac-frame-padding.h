#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Raw AAC (ADTS) files carry no duration: players and ffprobe estimate it from the size of the
// first frames. The encoder's frames vary with the sound (silence is a few bytes), which makes
// that estimate far off. Frames padded to one size with a fill element make it exact; decoders
// skip fill elements by definition.
//
// Pads one raw_data_block (an encoder packet, without its ADTS header) to `target` bytes.
// False, leaving `frame` as it is, when it already is that long or longer or does not end in
// the end element.
bool padAacFrame(std::vector<uint8_t> &frame, size_t target);
