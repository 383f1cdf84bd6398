// Pixel probes shared by the artwork tests.
#pragma once

#include <QImage>
#include <QPointF>
#include <cmath>
#include <functional>
#include <vector>

namespace artprobe {

inline bool IsPureWhite(QRgb px)
{
    return (px | 0xFF000000u) == 0xFFFFFFFFu;
}

inline int Luma(QRgb px)
{
    return qGray(px);
}

// Pure-white pixels that cannot be reached from the border through pure white: holes that
// would punch through a skinned button's window.
inline int EnclosedWhitePixels(const QImage &img)
{
    const int w = img.width();
    const int h = img.height();
    std::vector<char> seen(static_cast<size_t>(w) * h, 0);
    std::vector<int> stack;
    auto push = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= w || y >= h)
            return;
        const size_t i = static_cast<size_t>(y) * w + x;
        if (seen[i] || !IsPureWhite(img.pixel(x, y)))
            return;
        seen[i] = 1;
        stack.push_back(static_cast<int>(i));
    };
    for (int x = 0; x < w; ++x) {
        push(x, 0);
        push(x, h - 1);
    }
    for (int y = 0; y < h; ++y) {
        push(0, y);
        push(w - 1, y);
    }
    while (!stack.empty()) {
        const int i = stack.back();
        stack.pop_back();
        const int x = i % w;
        const int y = i / w;
        push(x + 1, y);
        push(x - 1, y);
        push(x, y + 1);
        push(x, y - 1);
    }
    int enclosed = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (IsPureWhite(img.pixel(x, y)) && !seen[static_cast<size_t>(y) * w + x])
                ++enclosed;
    return enclosed;
}

inline double OpaqueShare(const QImage &img)
{
    int opaque = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            opaque += IsPureWhite(img.pixel(x, y)) ? 0 : 1;
    return static_cast<double>(opaque) / (img.width() * img.height());
}

struct Stats
{
    double meanLuma = 0;
    double stdLuma = 0;
    int count = 0;
};

// Luminance over the pixels that belong to the face (not pure white).
inline Stats OpaqueStats(const QImage &img)
{
    Stats s;
    double sum = 0, sq = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb px = img.pixel(x, y);
            if (IsPureWhite(px))
                continue;
            const double l = Luma(px);
            sum += l;
            sq += l * l;
            ++s.count;
        }
    if (s.count > 0) {
        s.meanLuma = sum / s.count;
        s.stdLuma = std::sqrt(std::max(0.0, sq / s.count - s.meanLuma * s.meanLuma));
    }
    return s;
}

// Centroid of the pixels a predicate picks; count 0 when none.
inline QPointF Centroid(const QImage &img, const std::function<bool(QRgb)> &pick, int *count)
{
    double sx = 0, sy = 0;
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (pick(img.pixel(x, y))) {
                sx += x + 0.5;
                sy += y + 0.5;
                ++n;
            }
    *count = n;
    return n ? QPointF(sx / n, sy / n) : QPointF();
}

} // namespace artprobe
