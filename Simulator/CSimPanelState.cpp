#include "CSimPanelState.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::string_view kKeyPrefix = "KEYP:";
constexpr std::string_view kTouchPrefix = "KEYP ";

constexpr std::array<std::string_view, 5> kMeasurements{
    "Spectrum Analyzer",
    "Cable & Antenna: Distance-to-Fault",
    "Cable & Antenna: Return Loss",
    "Cable & Antenna: VSWR",
    "Channel Power",
};

constexpr double kMinFreqMHz = 0.0;
constexpr double kMaxFreqMHz = 6000.0;
constexpr double kMinSpanMHz = 0.01;
constexpr double kMinRefDbm = -120.0;
constexpr double kMaxRefDbm = 30.0;
constexpr double kMinRbwKHz = 0.1;
constexpr double kMaxRbwKHz = 10000.0;

enum class KeyAction
{
    Mode,
    Menu,
    Peak,
    Digit,
    Point,
    Sign,
    Enter,
    Escape,
    Delete,
    StepUp,
    StepDown,
    StepLeft,
    StepRight,
    Soft,
    Prev,
    Quality,
    Hold,
    Limit,
    AutoSave,
    Plain,
};

struct KeyEntry
{
    std::string_view name;
    KeyAction action;
    int arg;
};

// Every key text the instrument understands after "KEYP:". RIGH is what the LK panel's
// right arrow and the knob send; RIGHT is the same step with its last letter.
constexpr std::array<KeyEntry, 47> kKeys{{
    {"MODE", KeyAction::Mode, 0},
    {"FREQ", KeyAction::Menu, static_cast<int>(SimMenu::Freq)},
    {"AMP", KeyAction::Menu, static_cast<int>(SimMenu::Amp)},
    {"BW", KeyAction::Menu, static_cast<int>(SimMenu::Bw)},
    {"TRAC", KeyAction::Menu, static_cast<int>(SimMenu::Trace)},
    {"TRACE", KeyAction::Menu, static_cast<int>(SimMenu::Trace)},
    {"MARK", KeyAction::Menu, static_cast<int>(SimMenu::Marker)},
    {"SETUP", KeyAction::Menu, static_cast<int>(SimMenu::Setup)},
    {"PEAK", KeyAction::Peak, 0},
    {"NUM0", KeyAction::Digit, 0},
    {"NUM1", KeyAction::Digit, 1},
    {"NUM2", KeyAction::Digit, 2},
    {"NUM3", KeyAction::Digit, 3},
    {"NUM4", KeyAction::Digit, 4},
    {"NUM5", KeyAction::Digit, 5},
    {"NUM6", KeyAction::Digit, 6},
    {"NUM7", KeyAction::Digit, 7},
    {"NUM8", KeyAction::Digit, 8},
    {"NUM9", KeyAction::Digit, 9},
    {"JUM", KeyAction::Point, 0},
    {"BUHO", KeyAction::Sign, 0},
    {"ENTR", KeyAction::Enter, 0},
    {"ESC", KeyAction::Escape, 0},
    {"DEL", KeyAction::Delete, 0},
    {"UP", KeyAction::StepUp, 0},
    {"DOWN", KeyAction::StepDown, 0},
    {"LEFT", KeyAction::StepLeft, 0},
    {"RIGHT", KeyAction::StepRight, 0},
    {"RIGH", KeyAction::StepRight, 0},
    {"CUS1", KeyAction::Soft, 0},
    {"CUS2", KeyAction::Soft, 1},
    {"CUS3", KeyAction::Soft, 2},
    {"CUS4", KeyAction::Soft, 3},
    {"CUS5", KeyAction::Soft, 4},
    {"CUS6", KeyAction::Soft, 5},
    {"CUS7", KeyAction::Soft, 6},
    {"PREV", KeyAction::Prev, 0},
    {"QUAL:HIGH", KeyAction::Quality, 90},
    {"QUAL:NORM", KeyAction::Quality, 75},
    {"QUAL:LOW", KeyAction::Quality, 50},
    {"HOLD", KeyAction::Hold, 0},
    {"LIMIT", KeyAction::Limit, 0},
    {"AUTO", KeyAction::AutoSave, 0},
    {"FAV", KeyAction::Plain, 0},
    {"QSAVE", KeyAction::Plain, 0},
    {"SL", KeyAction::Plain, 0},
    {"CAL", KeyAction::Plain, 0},
}};

using Labels = std::array<std::string_view, CSimPanelState::kSoftKeys>;

struct MenuEntry
{
    SimMenu menu;
    std::string_view title;
    Labels labels;
};

constexpr std::array<MenuEntry, 8> kMenus{{
    {SimMenu::Freq,
     "Freq/Dist",
     {"Center", "Span", "Start", "Stop", "Full Span", "Zero Span", "Freq Step"}},
    {SimMenu::Amp,
     "Amplitude",
     {"Ref Level", "Attenuation", "Scale/Div", "Units", "Preamp", "Ref Offset", ""}},
    {SimMenu::Bw, "BW/AVG", {"RBW", "VBW", "Auto RBW", "Auto VBW", "Average", "", ""}},
    {SimMenu::Trace,
     "Trace",
     {"Clear/Write", "Max Hold", "Min Hold", "Average", "View", "Blank", ""}},
    {SimMenu::Marker,
     "Marker",
     {"Marker 1", "Normal", "Delta", "Marker Off", "Peak", "Next Peak", "Marker Freq"}},
    {SimMenu::Peak,
     "Peak",
     {"Peak Search", "Next Peak", "Peak Left", "Peak Right", "Min Search", "", ""}},
    {SimMenu::Setup,
     "Setup",
     {"Display", "Language", "Date/Time", "Network", "Version", "Reset", ""}},
    {SimMenu::Mode, "Mode", {}},
}};

const MenuEntry *FindMenu(SimMenu menu)
{
    for (const auto &entry : kMenus) {
        if (entry.menu == menu)
            return &entry;
    }
    return nullptr;
}

std::string Format(const char *format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A decimal integer with an optional leading minus sign and nothing else.
bool ParseInt(std::string_view text, int &value)
{
    if (text.empty() || text.size() > 11)
        return false;
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

} // namespace

CSimPanelState::CSimPanelState(SimFamily family) : m_family(family) {}

void CSimPanelState::SetFamily(SimFamily family)
{
    m_family = family;
    m_touch.reset();
}

int CSimPanelState::MeasurementCount()
{
    return static_cast<int>(kMeasurements.size());
}

std::string_view CSimPanelState::MeasurementName() const
{
    return kMeasurements[static_cast<std::size_t>(m_measurement)];
}

bool CSimPanelState::IsCableAntenna() const
{
    return MeasurementName().starts_with("Cable & Antenna");
}

std::array<std::string_view, CSimPanelState::kSoftKeys> CSimPanelState::SoftKeyLabels() const
{
    if (m_menu == SimMenu::Mode) {
        Labels labels{};
        for (std::size_t i = 0; i < kMeasurements.size() && i < labels.size(); ++i) {
            std::string_view name = kMeasurements[i];
            if (auto colon = name.find(": "); colon != std::string_view::npos)
                name = name.substr(colon + 2);
            labels[i] = name;
        }
        return labels;
    }
    if (const MenuEntry *entry = FindMenu(m_menu))
        return entry->labels;
    return {};
}

std::string_view CSimPanelState::MenuTitle() const
{
    if (const MenuEntry *entry = FindMenu(m_menu))
        return entry->title;
    return "";
}

std::string_view CSimPanelState::EntryLabel() const
{
    switch (m_entryTarget) {
    case SimEntryTarget::Center:
        return "Center (MHz)";
    case SimEntryTarget::Span:
        return "Span (MHz)";
    case SimEntryTarget::RefLevel:
        return "Ref Level (dBm)";
    case SimEntryTarget::MarkerFreq:
        return "Marker (MHz)";
    case SimEntryTarget::Rbw:
        return "RBW (kHz)";
    }
    return "";
}

bool CSimPanelState::Apply(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    if (text.starts_with(kKeyPrefix))
        return ApplyKey(text.substr(kKeyPrefix.size()));
    if (text.starts_with(kTouchPrefix))
        return ApplyTouch(text.substr(kTouchPrefix.size()));
    return false;
}

bool CSimPanelState::ApplyTouch(std::string_view args)
{
    const auto comma = args.find(',');
    if (comma == std::string_view::npos)
        return false;
    int x = 0;
    int y = 0;
    if (!ParseInt(args.substr(0, comma), x) || !ParseInt(args.substr(comma + 1), y))
        return false;
    const SimScreenSize size = ScreenSizeOf(m_family);
    x = std::clamp(x, 0, size.width - 1);
    y = std::clamp(y, 0, size.height - 1);
    m_touch = SimPoint{x, y};
    m_status = "Touch " + std::to_string(x) + "," + std::to_string(y);
    // The KKC models have no soft keys beside the screen: their menu is worked by touching it.
    if (m_family == SimFamily::Kkc) {
        for (int i = 0; i < kSoftKeys; ++i) {
            if (SoftKeyLabelRect(m_family, i).Contains(x, y)) {
                SoftKey(i);
                break;
            }
        }
    }
    return true;
}

bool CSimPanelState::ApplyKey(std::string_view name)
{
    const auto it =
        std::find_if(kKeys.begin(), kKeys.end(), [&](const KeyEntry &k) { return k.name == name; });
    if (it == kKeys.end())
        return false;

    const bool editing =
        m_entryActive && (it->action == KeyAction::Digit || it->action == KeyAction::Point ||
                          it->action == KeyAction::Sign || it->action == KeyAction::Delete);
    // The soft key that opened an entry stays lit while the entry is typed.
    if (!editing)
        m_highlight = -1;
    SetStatus("Key: " + std::string(name));
    switch (it->action) {
    case KeyAction::Mode:
        m_measurement = (m_measurement + 1) % MeasurementCount();
        m_entryActive = false;
        OpenMenu(SimMenu::Mode);
        m_highlight = m_measurement;
        SetStatus("Mode: " + std::string(MeasurementName()));
        break;
    case KeyAction::Menu:
        OpenMenu(static_cast<SimMenu>(it->arg));
        break;
    case KeyAction::Peak:
        OpenMenu(SimMenu::Peak);
        PeakSearch();
        break;
    case KeyAction::Digit:
        EntryChar(static_cast<char>('0' + it->arg));
        break;
    case KeyAction::Point:
        EntryChar('.');
        break;
    case KeyAction::Sign:
        EntryChar('-');
        break;
    case KeyAction::Enter:
        if (m_entryActive)
            CommitEntry();
        break;
    case KeyAction::Escape:
        if (m_entryActive) {
            m_entryActive = false;
            m_entry.clear();
            SetStatus("Entry cancelled");
        } else {
            OpenMenu(SimMenu::None);
        }
        break;
    case KeyAction::Delete:
        if (m_entryActive && !m_entry.empty())
            m_entry.pop_back();
        break;
    case KeyAction::StepUp:
        Step(+1, true);
        break;
    case KeyAction::StepDown:
        Step(-1, true);
        break;
    case KeyAction::StepLeft:
        Step(-1, false);
        break;
    case KeyAction::StepRight:
        Step(+1, false);
        break;
    case KeyAction::Soft:
        SoftKey(it->arg);
        break;
    case KeyAction::Prev: {
        const SimMenu back = m_previousMenu;
        OpenMenu(back);
        break;
    }
    case KeyAction::Quality:
        m_jpegQuality = it->arg;
        SetStatus(it->arg == 90   ? "Quality: High"
                  : it->arg == 75 ? "Quality: Normal"
                                  : "Quality: Low");
        break;
    case KeyAction::Hold:
        m_hold = !m_hold;
        SetStatus(m_hold ? "Sweep: Hold" : "Sweep: Continuous");
        break;
    case KeyAction::Limit:
        m_limitOn = !m_limitOn;
        SetStatus(m_limitOn ? "Limit Line: On" : "Limit Line: Off");
        break;
    case KeyAction::AutoSave:
        m_autoSave = !m_autoSave;
        SetStatus(m_autoSave ? "AutoSave: On" : "AutoSave: Off");
        break;
    case KeyAction::Plain:
        break;
    }
    return true;
}

void CSimPanelState::OpenMenu(SimMenu menu)
{
    if (menu != m_menu)
        m_previousMenu = m_menu;
    m_menu = menu;
}

void CSimPanelState::SoftKey(int index)
{
    m_highlight = index;
    const Labels labels = SoftKeyLabels();
    const std::string_view label = labels[static_cast<std::size_t>(index)];
    if (!label.empty())
        SetStatus(std::string(MenuTitle()) + ": " + std::string(label));

    switch (m_menu) {
    case SimMenu::Freq:
        if (index == 0) {
            BeginEntry(SimEntryTarget::Center);
        } else if (index == 1) {
            BeginEntry(SimEntryTarget::Span);
        } else if (index == 4) {
            m_centerMHz = kMaxFreqMHz / 2;
            m_spanMHz = kMaxFreqMHz;
        }
        break;
    case SimMenu::Amp:
        if (index == 0)
            BeginEntry(SimEntryTarget::RefLevel);
        break;
    case SimMenu::Bw:
        if (index == 0)
            BeginEntry(SimEntryTarget::Rbw);
        else if (index == 2)
            m_rbwKHz = std::clamp(m_spanMHz, kMinRbwKHz, kMaxRbwKHz);
        break;
    case SimMenu::Trace:
        if (index <= 3)
            m_traceMode = static_cast<SimTraceMode>(index);
        break;
    case SimMenu::Marker:
        if (index == 0 || index == 1) {
            m_markerOn = true;
            m_markerAtPeak = false;
            m_markerMHz = m_centerMHz;
        } else if (index == 3) {
            m_markerOn = false;
        } else if (index == 4) {
            PeakSearch();
        } else if (index == 6) {
            BeginEntry(SimEntryTarget::MarkerFreq);
        }
        break;
    case SimMenu::Peak:
        if (index == 0)
            PeakSearch();
        break;
    case SimMenu::Mode:
        if (index < MeasurementCount()) {
            m_measurement = index;
            SetStatus("Mode: " + std::string(MeasurementName()));
        }
        break;
    case SimMenu::Setup:
    case SimMenu::None:
        break;
    }
}

void CSimPanelState::PeakSearch()
{
    m_markerOn = true;
    const double lo = m_centerMHz - m_spanMHz / 2;
    const double hi = m_centerMHz + m_spanMHz / 2;
    // Only the signal on screen can be found; otherwise the noise peaks nowhere in particular.
    m_markerAtPeak = m_signalMHz >= lo && m_signalMHz <= hi;
    m_markerMHz = m_markerAtPeak ? m_signalMHz : m_centerMHz;
    SetStatus(m_markerAtPeak ? "Peak Search" : "Peak Search: no signal in span");
}

void CSimPanelState::BeginEntry(SimEntryTarget target)
{
    m_entryActive = true;
    m_entryTarget = target;
    m_entry.clear();
}

void CSimPanelState::EntryChar(char c)
{
    if (!m_entryActive) {
        // A digit typed with no entry open edits what the open menu is about.
        SimEntryTarget target = SimEntryTarget::Center;
        if (m_menu == SimMenu::Amp)
            target = SimEntryTarget::RefLevel;
        else if (m_menu == SimMenu::Bw)
            target = SimEntryTarget::Rbw;
        else if (m_menu == SimMenu::Marker)
            target = SimEntryTarget::MarkerFreq;
        BeginEntry(target);
    }
    if (c == '-') {
        if (!m_entry.empty() && m_entry.front() == '-')
            m_entry.erase(0, 1);
        else if (m_entry.size() < kMaxEntryChars)
            m_entry.insert(0, 1, '-');
        return;
    }
    if (c == '.' && m_entry.find('.') != std::string::npos)
        return;
    if (m_entry.size() < kMaxEntryChars)
        m_entry.push_back(c);
}

void CSimPanelState::CommitEntry()
{
    m_entryActive = false;
    const std::string text = std::move(m_entry);
    m_entry.clear();
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) {
        SetStatus("Invalid entry");
        return;
    }
    auto inRange = [&](double lo, double hi) {
        if (value < lo || value > hi) {
            SetStatus("Out of range");
            return false;
        }
        return true;
    };
    switch (m_entryTarget) {
    case SimEntryTarget::Center:
        if (inRange(kMinFreqMHz, kMaxFreqMHz)) {
            m_centerMHz = value;
            SetStatus(Format("Center %.3f MHz", value));
        }
        break;
    case SimEntryTarget::Span:
        if (inRange(kMinSpanMHz, kMaxFreqMHz)) {
            m_spanMHz = value;
            SetStatus(Format("Span %.3f MHz", value));
        }
        break;
    case SimEntryTarget::RefLevel:
        if (inRange(kMinRefDbm, kMaxRefDbm)) {
            m_refLevelDbm = value;
            SetStatus(Format("Ref Level %.1f dBm", value));
        }
        break;
    case SimEntryTarget::MarkerFreq:
        if (inRange(kMinFreqMHz, kMaxFreqMHz)) {
            m_markerOn = true;
            m_markerAtPeak = false;
            m_markerMHz = value;
            SetStatus(Format("Marker %.3f MHz", value));
        }
        break;
    case SimEntryTarget::Rbw:
        if (inRange(kMinRbwKHz, kMaxRbwKHz)) {
            m_rbwKHz = value;
            SetStatus(Format("RBW %.1f kHz", value));
        }
        break;
    }
}

void CSimPanelState::Step(int direction, bool coarse)
{
    const bool markerMenu = m_menu == SimMenu::Marker || m_menu == SimMenu::Peak;
    if (markerMenu && m_markerOn) {
        const double step = m_spanMHz / (coarse ? 10.0 : 100.0);
        const double lo = std::max(kMinFreqMHz, m_centerMHz - m_spanMHz / 2);
        const double hi = std::min(kMaxFreqMHz, m_centerMHz + m_spanMHz / 2);
        m_markerMHz = std::clamp(m_markerMHz + direction * step, lo, hi);
        m_markerAtPeak = false;
        SetStatus(Format("Marker %.3f MHz", m_markerMHz));
        return;
    }
    const double step = m_spanMHz / (coarse ? 2.0 : 10.0);
    m_centerMHz = std::clamp(m_centerMHz + direction * step, kMinFreqMHz, kMaxFreqMHz);
    SetStatus(Format("Center %.3f MHz", m_centerMHz));
}
