// Draws the simulated instrument's screen from its panel state, and encodes it as JPEG.
#pragma once

#include "CSimPanelState.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QTime>

#include <cstdint>
#include <random>
#include <vector>

class CSimScreen
{
public:
    explicit CSimScreen(std::uint32_t seed = 1);

    void Reseed(std::uint32_t seed);

    // One frame: trace with fresh noise, graticule, annotations, soft keys, marker,
    // touch cross-hair, status line and a clock with the frame number.
    QImage Render(const CSimPanelState &state, std::uint64_t frame, const QTime &clock);

    static QByteArray EncodeJpeg(const QImage &image, int quality);

    // Regions of the layout, for the renderer and for tests that look at pixels.
    static QRect HeaderRect(SimFamily family);
    static QRect GraticuleRect(SimFamily family);
    static QRect SoftKeyRect(SimFamily family, int index);
    static QRect MenuTitleRect(SimFamily family);
    static QRect AnnotationRect(SimFamily family);
    static QRect StatusRect(SimFamily family);
    static QRect ClockRect(SimFamily family);

private:
    void ComputeTrace(const CSimPanelState &state, int points);

    std::mt19937 m_rng;
    std::vector<double> m_trace;     // dB values shown, one per horizontal pixel
    std::vector<double> m_heldTrace; // max/min hold and average memory
    int m_heldMode = -1;
};
