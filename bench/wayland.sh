#!/usr/bin/env bash
# First picture and time per picture at 1920 x 1080: the X11 show under Xvfb, and under
# headless sway (pixman) the stand-alone show (SDL's Wayland driver) and --layer. Timed by the
# trace: its first "just displayed" line after the start (wall clock noted just before it),
# and the median interval between those lines with `delai 0` on 40 different photos (more
# than the cache holds). Run as root: sway runs as nobody.
#   bench/wayland.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(realpath "${1:?build folder}")
runs=${2:-5}
work=$(mktemp -d /tmp/gw-wayland-bench.XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; sleep 0.5; rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir -p "$work/photos" "$work/run" "$work/xdg"
for ((i = 0; i < 40; i++)); do
  convert -size 2400x1600 "gradient:rgb($((20 + i * 5)),80,160)-rgb(240,$((200 - i * 3)),40)" \
    -quality 90 "$work/photos/p$i.jpg"
done
cp "$build/glimmerwall" "$work/run/"

Xvfb :57 -screen 0 1920x1080x24 -br -nolisten tcp >/dev/null 2>&1 &
chown nobody "$work/xdg" && chmod 700 "$work/xdg"
printf 'output HEADLESS-1 resolution 1920x1080\n' >"$work/sway.cfg" && chmod 644 "$work/sway.cfg"
setpriv --reuid=65534 --regid=65534 --clear-groups env -i XDG_RUNTIME_DIR="$work/xdg" \
  HOME="$work/xdg" WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
  PATH=/usr/bin:/bin sway -c "$work/sway.cfg" >/dev/null 2>&1 &
sleep 2
socket=$(basename "$(ls "$work"/xdg/wayland-? | head -1)")

# ms since midnight of a trace time stamp "DD,HH:MM:SS.mmm", and of now.
stamp_ms() { awk -F'[,:. ]' '{ print (($2 * 60 + $3) * 60 + $4) * 1000 + $5 }'; }
now_ms() { date +%H:%M:%S.%3N | awk -F'[:.]' '{ print (($1 * 60 + $2) * 60 + $3) * 1000 + $4 }'; }
trace="$work/state/glimmerwall/Glimmerwall.txt"

# run MODE DELAI SECONDS: the program in MODE (x11, wayland, layer) for SECONDS.
run() {
  local mode=$1 env=(HOME="$work/home" XDG_STATE_HOME="$work/state" XDG_CACHE_HOME="$work/cache")
  printf 'trace 3\ndelai %s\ndossier %s\n' "$2" "$work/photos" >"$work/run/Glimmerwall.cfg"
  rm -rf "$work/cache"
  case $mode in
    x11) env+=(DISPLAY=:57 SDL_VIDEODRIVER=x11) ;;
    *) env+=(XDG_RUNTIME_DIR="$work/xdg" WAYLAND_DISPLAY="$socket") ;;
  esac
  local args=()
  [[ $mode == layer ]] && args=(--layer)
  started=$(now_ms)
  env -i "${env[@]}" "$work/run/glimmerwall" "${args[@]}" &
  local pid=$!
  sleep "$3"
  kill "$pid"
  wait "$pid" || true
}

for mode in x11 wayland layer; do
  firsts=()
  for ((r = 0; r < runs; r++)); do
    run "$mode" 60000 1.5
    first=$(grep -m1 "just displayed" "$trace" | stamp_ms)
    firsts+=($((first - started)))
  done
  run "$mode" 0 12
  per=$(grep "just displayed" "$trace" | stamp_ms |
    awk 'NR > 1 { print $1 - last } { last = $1 }' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] " (" NR " intervals)" }')
  echo "RESULT $mode first picture ms: ${firsts[*]}; per picture median ms: $per"
done
