// What the simulated instrument shows, and how key texts change it. No drawing here:
// the screen renderer reads this state, tests drive it directly.
#pragma once

#include "SimTypes.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

enum class SimMenu
{
    None,
    Freq,
    Amp,
    Bw,
    Trace,
    Marker,
    Peak,
    Setup,
    Mode
};

enum class SimEntryTarget
{
    Center,
    Span,
    RefLevel,
    MarkerFreq,
    Rbw
};

enum class SimTraceMode
{
    ClearWrite,
    MaxHold,
    MinHold,
    Average
};

struct SimPoint
{
    int x = 0;
    int y = 0;
};

class CSimPanelState
{
public:
    static constexpr int kSoftKeys = sim_layout::kSoftKeys;
    static constexpr std::size_t kMaxEntryChars = 12;

    explicit CSimPanelState(SimFamily family = SimFamily::Lk);

    // Acts on one key text as it arrives from the link (a trailing line feed is ignored).
    // Returns false for a text the instrument does not know; the state is then unchanged.
    bool Apply(std::string_view text);

    SimFamily Family() const { return m_family; }
    void SetFamily(SimFamily family);

    std::string_view MeasurementName() const;
    int MeasurementIndex() const { return m_measurement; }
    static int MeasurementCount();
    bool IsCableAntenna() const;

    SimMenu Menu() const { return m_menu; }
    // The labels of the soft-key column for the open menu (empty texts for unused keys).
    std::array<std::string_view, kSoftKeys> SoftKeyLabels() const;
    std::string_view MenuTitle() const;
    int HighlightedSoftKey() const { return m_highlight; } // -1 when none

    double CenterMHz() const { return m_centerMHz; }
    double SpanMHz() const { return m_spanMHz; }
    double RbwKHz() const { return m_rbwKHz; }
    double RefLevelDbm() const { return m_refLevelDbm; }
    double SignalMHz() const { return m_signalMHz; }
    double SignalLevelDbm() const { return m_signalDbm; }

    bool MarkerOn() const { return m_markerOn; }
    double MarkerMHz() const { return m_markerMHz; }
    bool MarkerAtPeak() const { return m_markerAtPeak; }

    bool EntryActive() const { return m_entryActive; }
    std::string_view EntryText() const { return m_entry; }
    SimEntryTarget EntryTarget() const { return m_entryTarget; }
    std::string_view EntryLabel() const;

    SimTraceMode TraceMode() const { return m_traceMode; }
    bool Hold() const { return m_hold; }
    bool LimitOn() const { return m_limitOn; }
    bool AutoSave() const { return m_autoSave; }

    // Where the screen was touched last. The KKC models take a touch on a soft-key label as
    // a press of that soft key; the LK models only mark the point.
    std::optional<SimPoint> Touch() const { return m_touch; }

    int JpegQuality() const { return m_jpegQuality; }

    // The bottom status line: the last key or what it did.
    std::string_view Status() const { return m_status; }

private:
    bool ApplyKey(std::string_view name);
    bool ApplyTouch(std::string_view args);
    void OpenMenu(SimMenu menu);
    void SoftKey(int index);
    void PeakSearch();
    void BeginEntry(SimEntryTarget target);
    void EntryChar(char c);
    void CommitEntry();
    void Step(int direction, bool coarse);
    void SetStatus(std::string text) { m_status = std::move(text); }

    SimFamily m_family;
    int m_measurement = 0;
    SimMenu m_menu = SimMenu::None;
    SimMenu m_previousMenu = SimMenu::None;
    int m_highlight = -1;
    double m_centerMHz = 1000.0;
    double m_spanMHz = 100.0;
    double m_rbwKHz = 100.0;
    double m_refLevelDbm = 0.0;
    double m_signalMHz = 1012.5;
    double m_signalDbm = -23.0;
    bool m_markerOn = false;
    double m_markerMHz = 1000.0;
    bool m_markerAtPeak = false;
    bool m_entryActive = false;
    std::string m_entry;
    SimEntryTarget m_entryTarget = SimEntryTarget::Center;
    SimTraceMode m_traceMode = SimTraceMode::ClearWrite;
    bool m_hold = false;
    bool m_limitOn = false;
    bool m_autoSave = false;
    std::optional<SimPoint> m_touch;
    int m_jpegQuality = 90;
    std::string m_status = "Ready";
};
