#!/usr/bin/env bash
# End-to-end run of the real klremote against its in-process simulated instrument, under a
# virtual X display. Usage: klremote_e2e.sh KLREMOTE SCENARIO [SHOT_DIR]
#   lk    --simulate --family 0: live screen, F1 lights soft key 1, orderly exit on SIGTERM
#   kkc   --simulate --family 1: live screen, a click on the "1" key opens the entry field
#   enter --simulate, Enter in "Select Model": the first family's panel with a live screen
#   exit  Escape in "Select Model": the program ends with no log and no settings written
#   wm    under a window manager: the LK window's outer size is 1290 x 820 from its first show,
#         and the KKC panel picture fills the client area
#   replay --simulate --family 1: Ctrl+S saves a screenshot, Ctrl+R records a few seconds;
#         --replay plays that recording in a panel of its own, and refuses a foreign file
#   room  --simulate --family 1: F11 fits the panel to the screen, a click on the zoomed "1"
#         key opens the entry field, the menu opens the Keyboard Shortcuts window
# Exit status 77 (skipped) when no virtual display can be had. SHOT_DIR, when given, keeps
# the screenshots (used for the README pictures).
set -euo pipefail

exe=${1:?klremote executable}
scenario=${2:?scenario}
shot_dir=${3:-}

if [[ "${KLR_E2E_DISPLAY_READY:-}" != 1 ]]; then
    if ! command -v xvfb-run >/dev/null 2>&1; then
        echo "SKIP: xvfb-run is not installed (scripts/install-deps installs it)"
        exit 77
    fi
    for tool in xdotool import convert; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "FAIL: $tool is missing (scripts/install-deps installs it)"
            exit 1
        fi
    done
    export KLR_E2E_DISPLAY_READY=1
    exec xvfb-run -a -s "-screen 0 1400x1000x24" "$0" "$@"
fi

# ---------------------------------------------------------------------------------------
# Known colours of the simulated screen (sRGB) and where they are, in screen pixels.
header_rgb="20,40,70"      # title and status lines
background_rgb="8,12,20"   # between graticule and soft-key column
softkey_rgb="30,44,62"     # a soft key that is not lit
lit_rgb="230,150,30"       # the soft key pressed last
entry_rgb="40,90,160"      # the numeric entry field in the status line
tolerance=40               # JPEG loses a little colour

work=$(mktemp -d)
app_pid=""
cleanup() {
    if [[ -n "$app_pid" ]] && kill -0 "$app_pid" 2>/dev/null; then
        kill -KILL "$app_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The test runner asks the other tests for the offscreen platform; this one needs the
# virtual X display, where xdotool and import can see the windows.
unset QT_QPA_PLATFORM

# Settings and per-user folders of this run stay in the scratch folder.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
log_dir="$work/log"
out="$work/klremote.out"

fail() {
    echo "FAIL ($scenario): $*"
    echo "--- klremote output"; cat "$out" 2>/dev/null || true
    echo "--- log"; cat "$log_dir"/*.txt 2>/dev/null || true
    if [[ -n "${last_shot:-}" && -f "$last_shot" ]]; then
        local keep="${TMPDIR:-/tmp}/klremote-e2e-$scenario-failed.png"
        cp "$last_shot" "$keep" && echo "--- last screenshot: $keep"
    fi
    exit 1
}

# wait_until SECONDS COMMAND...: polls COMMAND every 0.2 s.
wait_until() {
    local limit=$1; shift
    local end=$((SECONDS + limit))
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.2
    done
}

find_window() { # title -> window id on stdout
    xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1
}

wait_window() {
    local title=$1 id=""
    local end=$((SECONDS + 30))
    while [[ -z "$id" ]]; do
        ((SECONDS < end)) || fail "no window titled '$title'"
        kill -0 "$app_pid" 2>/dev/null || fail "klremote ended before showing '$title'"
        id=$(find_window "$title")
        [[ -n "$id" ]] || sleep 0.2
    done
    echo "$id"
}

shot_no=0
snap() { # window -> screenshot path in last_shot
    shot_no=$((shot_no + 1))
    last_shot="$work/shot$shot_no.png"
    import -window "$1" "$last_shot" 2>/dev/null
}

# pixels IMAGE X,Y... -> "r,g,b" per point, one a line
pixels() {
    local image=$1; shift
    local fmt=""
    for p in "$@"; do fmt+="%[pixel:p{$p}]\n"; done
    convert "$image" -colorspace sRGB -format "$fmt" info: 2>/dev/null |
        sed -E 's/^srgba?\(([0-9]+),([0-9]+),([0-9]+).*/\1,\2,\3/'
}

near() { # "r,g,b" "r,g,b" -> true when every channel is within the tolerance
    local IFS=, i
    local -a a=($1) b=($2)
    ((${#a[@]} == 3)) || return 1
    for i in 0 1 2; do
        local d=$((a[i] - b[i]))
        ((d < 0)) && d=$((-d))
        ((d <= tolerance)) || return 1
    done
}

# screen_shows WINDOW LEFT TOP "x,y=r,g,b"...: one fresh screenshot; every point (screen
# coordinates, offset by the screen rectangle's corner) has its colour.
screen_shows() {
    local win=$1 left=$2 top=$3; shift 3
    snap "$win" || return 1
    local -a points=() colours=()
    for probe in "$@"; do
        local xy=${probe%%=*}
        points+=("$((left + ${xy%%,*})),$((top + ${xy##*,}))")
        colours+=("${probe##*=}")
    done
    local i=0 got
    while read -r got; do
        near "$got" "${colours[i]}" || return 1
        i=$((i + 1))
    done < <(pixels "$last_shot" "${points[@]}")
    ((i == ${#points[@]}))
}

keep_shot() {
    if [[ -n "$shot_dir" ]]; then
        mkdir -p "$shot_dir" && cp "$last_shot" "$shot_dir/$1"
    fi
}

log_file() { ls "$log_dir"/*_log*.txt 2>/dev/null | head -n1; }
log_has() { local f; f=$(log_file) && [[ -n "$f" ]] && grep -qF -- "$1" "$f"; }

# check_log_order TEXT...: each text is on a line after the previous one's.
check_log_order() {
    local f last=0 n
    f=$(log_file)
    [[ -n "$f" ]] || fail "no log file in $log_dir"
    for text in "$@"; do
        n=$(grep -nF -- "$text" "$f" | head -n1 | cut -d: -f1)
        [[ -n "$n" ]] || fail "log lacks '$text'"
        ((n > last)) || fail "log has '$text' out of order (line $n, expected after $last)"
        last=$n
    done
    # Every entry starts with the time stamp. A logged text that ends in its own line feed
    # (the LK panel's key commands) leaves a lone CR after it.
    if grep -vE $'^\r$' "$f" | grep -qvE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}   '; then
        fail "log has an entry without time stamp"
    fi
}

# finish_panel: SIGTERM closes the panel like its close box; the process must end by itself.
finish_panel() {
    kill -TERM "$app_pid"
    local status=0
    wait_until 20 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "klremote did not end after SIGTERM"
    wait "$app_pid" || status=$?
    app_pid=""
    ((status == 0)) || fail "klremote ended with status $status"
}

# Presses KEY in the window titled like TITLE and expects the program to end with STATUS.
answer_and_expect_end() { # title key status what
    local box status=0
    box=$(wait_window "$1")
    xdotool windowfocus "$box" 2>/dev/null || true
    sleep 0.3
    xdotool key --clearmodifiers "$2"
    wait_until 20 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "$4 did not end the program"
    wait "$app_pid" || status=$?
    app_pid=""
    ((status == $3)) || fail "$4: klremote ended with status $status"
}

no_store_written() {
    [[ ! -e "$XDG_CONFIG_HOME/Quorvex" ]] || fail "the settings store was written: $(ls -R "$XDG_CONFIG_HOME")"
}

# The plain title, or the title naming the instrument and its address once connected.
title="^KLRemote 2\.0( - .+)?$"
panel_lk() { # window: the live screen of the first family, then F1
    local win=$1 left=41 top=39 h=600
    wait_until 30 log_has "TCP Connected, Load Equp" || fail "no connect line in the log"
    wait_until 30 screen_shows "$win" $left $top "400,3=$header_rgb" "400,$((h - 3))=$header_rgb" \
        "654,200=$background_rgb" "700,80=$softkey_rgb" || fail "the simulated screen never showed"
    keep_shot klremote-lk.png
    xdotool windowfocus "$win" 2>/dev/null || true
    sleep 0.3
    xdotool key --clearmodifiers F1
    wait_until 20 screen_shows "$win" $left $top "700,80=$lit_rgb" "400,3=$header_rgb" ||
        fail "F1 did not light soft key 1 on the instrument's screen"
    wait_until 10 log_has "KEYP:CUS1" || fail "the key text is not in the log"
}

case "$scenario" in
lk)
    # Stored settings that point elsewhere: the simulated run must neither use nor change
    # the link settings, but it does honour the stored quality (medium is sent at Start).
    store="$XDG_CONFIG_HOME/Quorvex/KLRemote.conf"
    mkdir -p "${store%/*}"
    printf '[Connection]\nMethod=2\nIP=10.11.12.13\nIPV6=fd00::66\nQuality=1\n' >"$store"
    cp "$store" "$work/store.before"
    "$exe" --simulate --family 0 --log-dir "$log_dir" >"$out" 2>&1 &
    app_pid=$!
    panel_lk "$(wait_window "$title")"
    finish_panel
    check_log_order "KLRemote 2.0" "TCP Connected, Load Equp" "KEYP:QUAL:NORM" "KEYP:CUS1"
    cmp -s "$store" "$work/store.before" || fail "the stored settings changed: $(cat "$store")"
    ;;
kkc)
    "$exe" --simulate --family 1 --log-dir "$log_dir" >"$out" 2>&1 &
    app_pid=$!
    win=$(wait_window "$title")
    left=111 top=25 h=480
    wait_until 30 log_has "TCP Connected, Load Equp" || fail "no connect line in the log"
    wait_until 30 screen_shows "$win" $left $top "400,3=$header_rgb" "400,$((h - 3))=$header_rgb" \
        "654,200=$background_rgb" "760,465=$header_rgb" || fail "the simulated screen never showed"
    keep_shot klremote-kkc.png
    # The numeric key "1" of the panel, left of the knob.
    xdotool mousemove --window "$win" 152 537 click 1
    wait_until 20 screen_shows "$win" $left $top "760,465=$entry_rgb" ||
        fail "the click on key 1 did not open the entry field on the instrument's screen"
    wait_until 10 log_has "KEYP:NUM1" || fail "the key text is not in the log"
    finish_panel
    check_log_order "KLRemote 2.0" "TCP Connected, Load Equp" "KEYP:NUM1"
    no_store_written
    ;;
enter)
    "$exe" --simulate --log-dir "$log_dir" >"$out" 2>&1 &
    app_pid=$!
    dlg=$(wait_window "^Select Model$")
    snap "$dlg" && keep_shot select-model.png
    xdotool windowfocus "$dlg" 2>/dev/null || true
    sleep 0.3
    xdotool key --clearmodifiers Return
    panel_lk "$(wait_window "$title")"
    finish_panel
    check_log_order "KLRemote 2.0" "TCP Connected, Load Equp" "KEYP:CUS1"
    no_store_written
    ;;
exit)
    "$exe" --log-dir "$log_dir" >"$out" 2>&1 &
    app_pid=$!
    answer_and_expect_end "^Select Model$" Escape 0 "Escape"
    [[ -z "$(ls -A "$log_dir" 2>/dev/null)" ]] || fail "a log was written: $(ls "$log_dir")"
    no_store_written
    ;;
wm)
    command -v openbox >/dev/null 2>&1 || { echo "SKIP: openbox is not installed"; exit 77; }
    openbox >/dev/null 2>&1 &
    wm_pid=$!
    sleep 1
    outer_size() { # window -> "WIDTHxHEIGHT" of the client plus the frame the manager drew
        local geometry extents w h
        geometry=$(xdotool getwindowgeometry "$1" | sed -n 's/.*Geometry: //p')
        extents=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= //p' | tr -d ' ')
        [[ -n "$geometry" && -n "$extents" ]] || return 1
        local IFS=,
        local -a e=($extents)
        w=${geometry%x*} h=${geometry#*x}
        echo "$((w + e[0] + e[1]))x$((h + e[2] + e[3]))"
    }
    "$exe" --simulate --family 0 --log-dir "$log_dir" >"$out" 2>&1 &
    app_pid=$!
    win=$(wait_window "$title")
    wait_until 10 bash -c "[[ \$(xprop -id $win _NET_FRAME_EXTENTS) == *=* ]]" ||
        fail "the window manager never framed the window"
    sleep 1
    size=$(outer_size "$win") || fail "no frame geometry"
    [[ "$size" == 1290x820 ]] || fail "LK outer size $size, expected 1290x820"
    finish_panel
    "$exe" --simulate --family 1 --log-dir "$log_dir" >"$out" 2>&1 &
    app_pid=$!
    win=$(wait_window "$title")
    sleep 2
    geometry=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p')
    [[ "$geometry" == 1023x699 ]] || fail "KKC client $geometry, expected 1023x699"
    # The panel's right edge and the band above the status bar are the panel, not white.
    snap "$win"
    while read -r got; do
        near "$got" "255,255,255" && fail "white at the panel's edge: $got"
    done < <(pixels "$last_shot" "1020,300" "500,676")
    finish_panel
    kill "$wm_pid" 2>/dev/null || true
    ;;
replay)
    "$exe" --simulate --family 1 --log-dir "$log_dir" >"$out" 2>&1 &
    app_pid=$!
    win=$(wait_window "$title")
    left=111 top=25 h=480
    wait_until 30 screen_shows "$win" $left $top "400,3=$header_rgb" "760,465=$header_rgb" ||
        fail "the simulated screen never showed"
    xdotool windowfocus "$win" 2>/dev/null || true
    sleep 0.3
    xdotool key --clearmodifiers ctrl+s
    wait_until 10 log_has "Saved KLRemote_KL535C_" || fail "Ctrl+S saved no screenshot"
    ls "$HOME"/Pictures/KLRemote_KL535C_*.png >/dev/null 2>&1 || fail "no screenshot in Pictures"
    xdotool key --clearmodifiers ctrl+r
    wait_until 10 log_has "Recording to KLRemote_KL535C_" || fail "Ctrl+R did not start a recording"
    sleep 3
    xdotool key --clearmodifiers ctrl+r
    wait_until 10 log_has " frames)" || fail "Ctrl+R did not end the recording"
    finish_panel
    recording=$(ls "$HOME"/Videos/KLRemote_KL535C_*.mkv 2>/dev/null | head -n1)
    [[ -n "$recording" ]] || fail "no recording in Videos"

    rm -rf "$log_dir"
    "$exe" --replay "$recording" --log-dir "$log_dir" >"$out" 2>&1 &
    app_pid=$!
    win=$(wait_window "Replay of ${recording##*/}")
    wait_until 30 screen_shows "$win" $left $top "400,3=$header_rgb" "654,200=$background_rgb" \
        "760,465=$header_rgb" || fail "the replay never showed the recorded screen"
    keep_shot klremote-replay.png
    xdotool windowfocus "$win" 2>/dev/null || true
    sleep 0.3
    xdotool key --clearmodifiers space
    finish_panel
    check_log_order "KLRemote 2.0" "Replay of "
    log_has "TCP Connected" && fail "the replay opened a link"

    # Not a recording: a clear message, and the program ends with status 1.
    printf 'not a recording' >"$work/foreign.mkv"
    "$exe" --replay "$work/foreign.mkv" --log-dir "$log_dir" >"$out" 2>&1 &
    app_pid=$!
    answer_and_expect_end "^KLRemote$" Return 1 "the refused replay"
    grep -qF "Cannot replay foreign.mkv: it is not a Matroska file" "$out" ||
        fail "the refusal gave no reason"
    ;;
room)
    "$exe" --simulate --family 1 --log-dir "$log_dir" >"$out" 2>&1 &
    app_pid=$!
    win=$(wait_window "$title")
    wait_until 30 log_has "TCP Connected, Load Equp" || fail "no connect line in the log"
    wait_until 10 bash -c "xdotool getwindowname $win | grep -q ' - 127\.0\.0\.1\$'" ||
        fail "the title does not name the instrument: $(xdotool getwindowname "$win")"
    xdotool windowfocus "$win" 2>/dev/null || true
    sleep 0.3
    xdotool key --clearmodifiers F11
    read -r screen_w screen_h < <(xdotool getdisplaygeometry)
    full_screen() {
        local geometry
        geometry=$(xdotool getwindowgeometry "$win" 2>/dev/null | sed -n 's/ *Geometry: //p')
        [[ "$geometry" == "${screen_w}x${screen_h}" ]]
    }
    wait_until 20 full_screen || fail "F11 did not make the panel full screen"
    # The panel (1023 x 679) fitted above the 20-pixel status bar, centred; a panel point
    # shows at the window pixel whose centre falls on it.
    zoomed() { # x y -> window pixel
        awk -v w="$screen_w" -v h="$((screen_h - 20))" -v x="$1" -v y="$2" 'BEGIN {
            f = w / 1023; if (h / 679 < f) f = h / 679
            pw = int(1023 * f - 0.5); if (pw < 1023 * f - 0.5) pw++
            ph = int(679 * f - 0.5); if (ph < 679 * f - 0.5) ph++
            printf "%d %d\n", int((w - pw) / 2) + int((x + 0.5) * f), int((h - ph) / 2) + int((y + 0.5) * f) }'
    }
    read -r hx hy < <(zoomed $((111 + 400)) $((25 + 3)))
    read -r bx by < <(zoomed $((111 + 654)) $((25 + 200)))
    read -r ex ey < <(zoomed $((111 + 760)) $((25 + 465)))
    shows() { # x,y=rgb ...: one screenshot, each window pixel has its colour
        snap "$win" || return 1
        local -a points=() colours=()
        for probe in "$@"; do points+=("${probe%%=*}"); colours+=("${probe##*=}"); done
        local i=0 got
        while read -r got; do
            near "$got" "${colours[i]}" || return 1
            i=$((i + 1))
        done < <(pixels "$last_shot" "${points[@]}")
        ((i == ${#points[@]}))
    }
    wait_until 30 shows "$hx,$hy=$header_rgb" "$bx,$by=$background_rgb" "$ex,$ey=$header_rgb" ||
        fail "the zoomed screen never showed"
    keep_shot klremote-fullscreen.png
    read -r kx ky < <(zoomed 152 537)
    xdotool mousemove --window "$win" "$kx" "$ky" click 1
    wait_until 20 shows "$ex,$ey=$entry_rgb" ||
        fail "the click on the zoomed key 1 did not open the entry field"
    wait_until 10 log_has "KEYP:NUM1" || fail "the key text is not in the log"
    # Keyboard Shortcuts is the menu's last item.
    read -r mx my < <(zoomed 990 640)
    xdotool mousemove --window "$win" "$mx" "$my" click 3
    sleep 0.5
    xdotool key --clearmodifiers Up Return
    keys=$(wait_window "^Keyboard Shortcuts$") || fail "the menu did not open the Keyboard Shortcuts window"
    sleep 0.3
    snap "$keys" && keep_shot klremote-shortcuts.png
    xdotool windowfocus "$win" 2>/dev/null || true
    sleep 0.3
    xdotool key --clearmodifiers F11
    wait_until 20 bash -c "! { xdotool getwindowgeometry $win | grep -q 'Geometry: ${screen_w}x${screen_h}'; }" ||
        fail "F11 did not leave full screen"
    finish_panel
    check_log_order "KLRemote 2.0" "TCP Connected, Load Equp" "KEYP:NUM1"
    grep -q "KLRemote 2.0 - " "$(log_file)" && fail "the log took the connected title"
    no_store_written
    ;;
*)
    echo "unknown scenario '$scenario'"
    exit 2
    ;;
esac
echo "PASS ($scenario)"
