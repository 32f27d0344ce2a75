#include "picture-converter.h"

#include "bgrx-to-i420.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdint>
#include <cstring>

PictureConverter::~PictureConverter()
{
    release();
}

void PictureConverter::release()
{
    sws_freeContext(m_scaler);
    m_scaler = nullptr;
    m_width = 0;
    m_height = 0;
}

bool PictureConverter::configure(int width, int height, AVPixelFormat source, int pictureWidth,
                                 int pictureHeight, bool fit, Target target)
{
    release();
    m_bgrx = target == Target::Bgrx;
    m_pictureWidth = pictureWidth;
    m_pictureHeight = pictureHeight;
    m_fitted = fit;
    m_fitX = 0;
    m_fitY = 0;
    if (width <= 0 || height <= 0 || pictureWidth <= 0 || pictureHeight <= 0) {
        m_error = "no picture size";
        return false;
    }
    int targetWidth = pictureWidth;
    int targetHeight = pictureHeight;
    if (fit) {
        // Even sizes and offsets keep the chroma planes aligned with the luma plane.
        const double scale = std::min(double(pictureWidth) / width, double(pictureHeight) / height);
        targetWidth = std::clamp(int(width * scale) & ~1, 2, pictureWidth & ~1);
        targetHeight = std::clamp(int(height * scale) & ~1, 2, pictureHeight & ~1);
        m_fitX = ((pictureWidth - targetWidth) / 2) & ~1;
        m_fitY = ((pictureHeight - targetHeight) / 2) & ~1;
    }
    // Another size, or a layout the copy and the fast conversion do not read, goes through
    // the general converter.
    if (targetWidth != width || targetHeight != height || source != AV_PIX_FMT_BGR0) {
        m_scaler = sws_getContext(width, height, source, targetWidth, targetHeight,
                                  m_bgrx ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_YUV420P, SWS_BICUBIC,
                                  nullptr, nullptr, nullptr);
        if (!m_scaler) {
            m_error = "no colour converter for this size";
            return false;
        }
        // Full-range RGB in, limited-range BT.709 out: what the engine's own conversion gives.
        if (!m_bgrx) {
            const int *bt709 = sws_getCoefficients(SWS_CS_ITU709);
            sws_setColorspaceDetails(m_scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
        }
    }
    m_width = width;
    m_height = height;
    m_error.clear();
    return true;
}

void PictureConverter::convert(const uint8_t *pixels, int stride, AVFrame *picture) const
{
    const uint8_t *planes[1] = {pixels};
    const int strides[1] = {stride};
    uint8_t *target[4] = {picture->data[0], picture->data[1], picture->data[2], nullptr};
    if (m_fitted) {
        // Black bars round the fitted picture.
        if (m_bgrx) {
            memset(picture->data[0], 0, (size_t)picture->linesize[0] * (size_t)m_pictureHeight);
            target[0] += (size_t)m_fitY * picture->linesize[0] + (size_t)m_fitX * 4;
        } else {
            // limited-range black, neutral chroma
            for (int plane = 0; plane < 3; ++plane) {
                const int rows = plane == 0 ? m_pictureHeight : (m_pictureHeight + 1) / 2;
                memset(picture->data[plane], plane == 0 ? 16 : 128,
                       (size_t)picture->linesize[plane] * (size_t)rows);
            }
            target[0] += (size_t)m_fitY * picture->linesize[0] + m_fitX;
            target[1] += (size_t)(m_fitY / 2) * picture->linesize[1] + m_fitX / 2;
            target[2] += (size_t)(m_fitY / 2) * picture->linesize[2] + m_fitX / 2;
        }
    }
    if (m_scaler) {
        sws_scale(m_scaler, planes, strides, 0, m_height, target, picture->linesize);
    } else if (m_bgrx) {
        for (int y = 0; y < m_height; ++y)
            memcpy(target[0] + (size_t)y * picture->linesize[0], pixels + (size_t)y * stride,
                   (size_t)m_width * 4);
    } else {
        bgrxToI420(pixels, stride, m_width, m_height, target, picture->linesize);
    }
}
