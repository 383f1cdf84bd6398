// Bitmap and icon resources of the panels, by numeric ID. The artwork is drawn in code
// (see Artwork.cpp), each picture at its own size, and cached after the first request.
#pragma once

#include <QIcon>
#include <QImage>
#include <vector>

namespace res {

// Fixed IDs of the design.
inline constexpr int IDR_MAINFRAME = 128;          // application icon
inline constexpr int IDI_CONNECTED = 233;          // 16 x 16
inline constexpr int IDI_DISCONNECTED = 234;       // 16 x 16
inline constexpr int IDB_SCREEN_PLACEHOLDER = 242; // 800 x 480, KKC screen before the first picture
inline constexpr int IDB_PANEL_KKC = 243;          // 1023 x 679
inline constexpr int IDB_KNOB_KKC_FIRST = 292;     // 292..303: knob at notches 1..12, 140 x 140
inline constexpr int IDB_KNOB_KKC_DISABLED = 304;

enum class Face
{
    Normal = 0,
    Pressed = 1,
    Focus = 2,
    Disabled = 3
};

// The ID functions return 0 (no picture) for a control, scale or index they do not know.

// Key faces of the KKC panel, for its controls 1073..1100 (white where the key is not).
// The focus face is the normal face.
int KkcKeyFace(int controlId, Face face);

// LK panel, per display scale (0 = 100 %, 1 = 85 %, 2 = 70 %).
int LkPanel(int scale); // 1282x767, 1090x652, 897x537
// Controls 1013..1046. The soft keys 1014..1020 share one set of four faces with a focus face
// of their own; every other key's focus face is its normal face.
int LkKeyFace(int controlId, int scale, Face face);
// index 0: the disabled knob; 1..12: the knob at notches 1..12 (177, 150, 124 pixels square)
int LkKnob(int scale, int index);

// The picture of a bitmap ID; a null image for an unknown ID. Thread-safe.
QImage LoadBitmap(int id);
// Every bitmap ID that LoadBitmap knows (for tools and tests).
std::vector<int> AllBitmapIds();
// Icons (IDR_MAINFRAME, IDI_CONNECTED, IDI_DISCONNECTED).
QIcon LoadIcon(int id);

} // namespace res
