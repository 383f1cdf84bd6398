// The bitmap IDs, their recipes and the cache behind res::LoadBitmap.
#include "ArtKit.h"
#include "ArtLayout.h"
#include "Resources.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QThread>
#include <QThreadPool>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <unordered_map>

namespace res {

namespace {

using namespace layout;
using art::FaceState;
using art::KeyFaceSpec;

// ID blocks of the drawn-in-code pictures (the fixed IDs are in Resources.h).
// KKC key faces: base + (control - first) * 4 + face.
constexpr int kKkcFaceBase = 4000;
// LK panel pictures: base + scale.
constexpr int kLkPanelBase = 5000;
// LK knobs: base + scale * 16 + index (0 disabled, 1..12 notches).
constexpr int kLkKnobBase = 5100;
// LK key faces: base + scale * 1000 + (control - first) * 4 + face.
constexpr int kLkFaceBase = 6000;

constexpr int kKnobNotches = 12;
constexpr int kDrawnFaces[] = {static_cast<int>(Face::Normal), static_cast<int>(Face::Pressed),
                               static_cast<int>(Face::Disabled)};

// Application icon sizes; the status icons come at 16 only.
constexpr int kAppIconSizes[] = {16, 32, 48, 64, 128, 256};
constexpr int kStatusIconSize = 16;

const char *const kKkcModelLine = "RF ANALYZER";
const char *const kLkModelLine = "CABLE & ANTENNA ANALYZER";

bool ValidScale(int scale)
{
    return scale >= 0 && scale < kScaleCount;
}

FaceState StateOf(int face)
{
    switch (static_cast<Face>(face)) {
    case Face::Pressed:
        return FaceState::Pressed;
    case Face::Focus:
        return FaceState::Focus;
    case Face::Disabled:
        return FaceState::Disabled;
    case Face::Normal:
    default:
        return FaceState::Normal;
    }
}

bool IsSoftKey(int id)
{
    return id >= kLkFirstSoftKey && id <= kLkLastSoftKey;
}

// ---------------------------------------------------------------- KKC

KeyFaceSpec KkcSpec(const KkcKey &key, FaceState state)
{
    KeyFaceSpec desc;
    desc.size = key.face;
    desc.style = key.style;
    desc.shape = key.shape;
    desc.legend = QString::fromUtf8(key.legend);
    desc.state = state;
    return desc;
}

QPointF KkcKnobCentre()
{
    return QPointF(kKkcKnobPos) + QPointF(kKkcKnobSize / 2.0, kKkcKnobSize / 2.0);
}

QImage DrawKkcPanel()
{
    QImage image(kKkcPanelSize, QImage::Format_RGB32);
    art::DrawCase(image, 1.0);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    art::DrawBezel(p, kKkcScreen, 1.0);
    for (const KkcKey &key : KkcKeys()) {
        const QPainterPath outline =
            art::KeyOutline(KkcSpec(key, FaceState::Normal)).translated(key.x, key.y);
        art::DrawWell(p, outline, 1.0);
    }
    art::DrawKnobWell(p, KkcKnobCentre(), kKkcKnobSize / 2.0, 1.0);
    art::DrawBrand(p, QRectF(10, 556, 96, 48), QString::fromUtf8(kKkcModelLine), 1.0,
                   Qt::AlignHCenter);
    return image;
}

// ---------------------------------------------------------------- LK

// The ring of arrow keys around the knob, radii at 100 %.
constexpr double kRingInner100 = 101.0;
constexpr double kRingOuter100 = 151.0;
constexpr double kRingDish100 = 157.0;

QPointF LkKnobCentre(int scale)
{
    const double half = LkKnobButton(scale) / 2.0;
    return QPointF(LkKnobPos(scale)) + QPointF(half, half);
}

KeyFaceSpec LkSpec(const LkKey &key, int scale, FaceState state)
{
    KeyFaceSpec desc;
    desc.size = LkFaceSize(key.cls, scale);
    desc.body = LkButtonSize(key.cls, scale);
    desc.style = key.style;
    desc.shape = key.shape;
    desc.legend = QString::fromUtf8(key.legend);
    desc.state = state;
    desc.scale = static_cast<double>(kScaleFactor[static_cast<size_t>(scale)]);
    desc.ringCenter = LkKnobCentre(scale) - QPointF(LkKeyPos(key, scale));
    desc.ringInner = ScaleReal(kRingInner100, scale);
    desc.ringOuter = ScaleReal(kRingOuter100, scale);
    return desc;
}

bool OnRing(KeyShape shape)
{
    return shape == KeyShape::ArcUp || shape == KeyShape::ArcDown || shape == KeyShape::ArcLeft ||
           shape == KeyShape::ArcRight;
}

QImage DrawLkPanel(int scale)
{
    const double s = static_cast<double>(kScaleFactor[static_cast<size_t>(scale)]);
    QImage image(kLkPanelSize[static_cast<size_t>(scale)], QImage::Format_RGB32);
    art::DrawCase(image, s);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRect screen = LkScreen(scale);
    art::DrawBezel(p, screen, s);
    art::DrawIdleScreen(p, screen, s);

    const QPointF knob = LkKnobCentre(scale);
    art::DrawKnobWell(p, knob, ScaleReal(kRingDish100, scale), s);
    for (const LkKey &key : LkKeys()) {
        const KeyFaceSpec desc = LkSpec(key, scale, FaceState::Normal);
        const QPoint at = LkKeyPos(key, scale);
        if (!OnRing(key.shape))
            art::DrawWell(p, art::KeyOutline(desc).translated(at), s);
        if (IsSoftKey(key.id)) {
            const double y = at.y() + desc.body.height() / 2.0;
            art::DrawGuideMark(p, QPointF(screen.x() + screen.width() + 16.0 * s, y),
                               QPointF(at.x() - 8.0 * s, y), s);
        }
        if (key.panelLegend) {
            const QPointF centre(at.x() + desc.body.width() / 2.0, at.y() - 9.5 * s);
            art::DrawPanelLegend(p, centre, QString::fromUtf8(key.panelLegend), 11.0 * s, 86.0 * s);
        }
    }
    art::DrawKnobWell(p, knob, LkKnobButton(scale) / 2.0, s);
    art::DrawBrand(p, QRectF(screen.left(), screen.bottom() + 18.0 * s, 210.0 * s, 40.0 * s),
                   QString::fromUtf8(kLkModelLine), s, Qt::AlignLeft);
    return image;
}

// ---------------------------------------------------------------- the table of recipes

using Recipe = std::function<QImage()>;

std::map<int, Recipe> BuildRecipes()
{
    std::map<int, Recipe> r;
    r[IDB_SCREEN_PLACEHOLDER] = [] { return art::DrawPlaceholder(kKkcPlaceholderSize); };
    r[IDB_PANEL_KKC] = [] { return DrawKkcPanel(); };
    for (int notch = 1; notch <= kKnobNotches; ++notch)
        r[IDB_KNOB_KKC_FIRST + notch - 1] = [notch] { return art::DrawKnob(kKkcKnobSize, notch); };
    r[IDB_KNOB_KKC_DISABLED] = [] { return art::DrawKnob(kKkcKnobSize, 0); };
    for (const KkcKey &key : KkcKeys())
        for (int face : kDrawnFaces)
            r[kKkcFaceBase + (key.id - kKkcFirstKey) * 4 + face] = [&key, face] {
                return art::DrawKeyFace(KkcSpec(key, StateOf(face)));
            };

    for (int scale = 0; scale < kScaleCount; ++scale) {
        r[kLkPanelBase + scale] = [scale] { return DrawLkPanel(scale); };
        for (int index = 0; index <= kKnobNotches; ++index)
            r[kLkKnobBase + scale * 16 + index] = [scale, index] {
                return art::DrawKnob(kLkKnobSize[static_cast<size_t>(scale)], index,
                                     LkKnobButton(scale));
            };
        for (const LkKey &key : LkKeys()) {
            if (IsSoftKey(key.id) && key.id != kLkFirstSoftKey)
                continue; // the soft keys share the first one's faces
            for (int face = 0; face < 4; ++face) {
                if (face == static_cast<int>(Face::Focus) && !IsSoftKey(key.id))
                    continue;
                r[kLkFaceBase + scale * 1000 + (key.id - kLkFirstKey) * 4 + face] = [&key, scale,
                                                                                     face] {
                    return art::DrawKeyFace(LkSpec(key, scale, StateOf(face)));
                };
            }
        }
    }
    return r;
}

const std::map<int, Recipe> &Recipes()
{
    static const std::map<int, Recipe> recipes = BuildRecipes();
    return recipes;
}

// Qt's raster engine splits large fills over the global thread pool unless it already runs
// on one of the pool's threads. Drawing a picture on a pool thread keeps all of it on one
// thread: the pictures are small enough that the split buys nothing, and the hand-over inside
// Qt, which thread checkers cannot see, otherwise floods them with reports and slows them down
// a hundredfold. When the pool has no thread to spare the picture is drawn right here.
QImage DrawOnOneThread(const Recipe &draw)
{
    QThreadPool *pool = QThreadPool::globalInstance();
    if (pool->contains(QThread::currentThread()))
        return draw();
    // The hand-over goes through a plain mutex and condition, held by the caller while the
    // task is queued and by the task while it draws: checkers see the ordering through these,
    // not through the pool's own queue.
    std::mutex mutex;
    std::condition_variable cv;
    bool finished = false;
    QImage image;
    std::unique_lock lock(mutex);
    const bool started = pool->tryStart([&] {
        std::lock_guard held(mutex);
        image = draw();
        finished = true;
        cv.notify_one();
    });
    if (!started) {
        lock.unlock();
        return draw();
    }
    cv.wait(lock, [&] { return finished; });
    return image;
}

// Drawn once; later requests share the same pixels.
class ImageCache
{
public:
    QImage Get(int key, const Recipe &draw)
    {
        if (QImage hit = Find(key); !hit.isNull())
            return hit;
        // One picture is drawn at a time, so a picture is never drawn twice and Qt's shared
        // font and path machinery is never entered from two threads at once. Lookups of
        // pictures already drawn do not wait for a drawing in progress.
        std::lock_guard drawing(s_drawMutex);
        if (QImage hit = Find(key); !hit.isNull())
            return hit;
        QImage drawn = DrawOnOneThread(draw);
        std::lock_guard lock(m_mutex);
        return m_images.try_emplace(key, std::move(drawn)).first->second;
    }

private:
    QImage Find(int key)
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_images.find(key);
        return it == m_images.end() ? QImage() : it->second;
    }

    static inline std::mutex s_drawMutex;
    std::mutex m_mutex;
    std::unordered_map<int, QImage> m_images;
};

ImageCache &Bitmaps()
{
    static ImageCache cache;
    return cache;
}

ImageCache &IconImages()
{
    static ImageCache cache;
    return cache;
}

} // namespace

int KkcKeyFace(int controlId, Face face)
{
    if (!FindKkcKey(controlId))
        return 0;
    const int f = face == Face::Focus ? static_cast<int>(Face::Normal) : static_cast<int>(face);
    if (f < 0 || f > 3)
        return 0;
    return kKkcFaceBase + (controlId - kKkcFirstKey) * 4 + f;
}

int LkPanel(int scale)
{
    return ValidScale(scale) ? kLkPanelBase + scale : 0;
}

int LkKeyFace(int controlId, int scale, Face face)
{
    if (!ValidScale(scale) || !FindLkKey(controlId))
        return 0;
    int f = static_cast<int>(face);
    if (f < 0 || f > 3)
        return 0;
    if (IsSoftKey(controlId))
        controlId = kLkFirstSoftKey;
    else if (face == Face::Focus)
        f = static_cast<int>(Face::Normal);
    return kLkFaceBase + scale * 1000 + (controlId - kLkFirstKey) * 4 + f;
}

int LkKnob(int scale, int index)
{
    if (!ValidScale(scale) || index < 0 || index > kKnobNotches)
        return 0;
    return kLkKnobBase + scale * 16 + index;
}

QImage LoadBitmap(int id)
{
    const auto &recipes = Recipes();
    const auto it = recipes.find(id);
    if (it == recipes.end())
        return {};
    return Bitmaps().Get(id, it->second);
}

std::vector<int> AllBitmapIds()
{
    std::vector<int> ids;
    for (const auto &entry : Recipes())
        ids.push_back(entry.first);
    return ids;
}

QIcon LoadIcon(int id)
{
    // Pixmaps need the Gui application.
    if (!QGuiApplication::instance())
        return {};
    QIcon icon;
    if (id == IDR_MAINFRAME) {
        for (int size : kAppIconSizes)
            icon.addPixmap(QPixmap::fromImage(
                IconImages().Get(id * 1000 + size, [size] { return art::DrawAppIcon(size); })));
    } else if (id == IDI_CONNECTED || id == IDI_DISCONNECTED) {
        const bool connected = id == IDI_CONNECTED;
        icon.addPixmap(
            QPixmap::fromImage(IconImages().Get(id * 1000 + kStatusIconSize, [connected] {
                return art::DrawStatusIcon(connected, kStatusIconSize);
            })));
    }
    return icon;
}

} // namespace res
