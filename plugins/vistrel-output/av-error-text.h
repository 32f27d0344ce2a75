#pragma once

extern "C" {
#include <libavutil/error.h>
}

#include <string>

// FFmpeg's words for one of its error codes.
inline std::string avErrorText(int err)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof(text));
    return text;
}
