#!/usr/bin/env bash
# Runs a command of the tool in a tmux terminal of a given size and checks
# the screen as a user sees it (screen_check), optionally again after the
# terminal was resized, then ends the command with Ctrl-C and checks that it
# exited cleanly with nothing on stderr.
#   view_tty_test.sh --checker PATH --size WxH [--resize WxH] [--no-color]
#                    [--expect-resized REGEX ...] [screen_check options ...] -- COMMAND ...
# After a resize the --expect lines give way to the --expect-resized ones.
set -euo pipefail

checker="" size="" resize="" marks=colour
checks=() expects=() resized_expects=()
while [ $# -gt 0 ]; do
  case "$1" in
    --checker) checker=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --resize) resize=$2; shift 2 ;;
    --no-color) marks=reverse; shift ;;
    --expect) expects+=(--expect "$2"); shift 2 ;;
    --expect-resized) resized_expects+=(--expect "$2"); shift 2 ;;
    --) shift; break ;;
    *) checks+=("$1"); shift ;;
  esac
done
if ! command -v tmux >/dev/null; then
  echo "tmux is not installed; scripts/deps-cli.sh installs it with the build packages" >&2
  exit 1
fi

dir=$(mktemp -d)
socket="$dir/tmux.socket"
cleanup() { tmux -S "$socket" kill-server 2>/dev/null || true; rm -rf "$dir"; }
trap cleanup EXIT
printf 'set -g status off\n' >"$dir/tmux.conf"

colour_env="env -u NO_COLOR"
[ "$marks" = reverse ] && colour_env="env NO_COLOR=1"
command_line="$colour_env $(printf '%q ' "$@") 2>$(printf '%q' "$dir/stderr"); echo \$? >$(printf '%q' "$dir/rc")"
tmux -S "$socket" -f "$dir/tmux.conf" new-session -d -s view -x "${size%x*}" -y "${size#*x}" "$command_line"

# Polls until the screen passes (the figures need a second or two to
# appear, longer under the sanitizers) or the time is up.
check_screen() {
  local want=$1 deadline=$((SECONDS + 90))
  shift
  while :; do
    if [ -f "$dir/rc" ]; then
      echo "the command ended early with exit code $(cat "$dir/rc"):" >&2
      cat "$dir/stderr" >&2
      return 1
    fi
    tmux -S "$socket" capture-pane -p -t view >"$dir/plain"
    tmux -S "$socket" capture-pane -p -e -t view >"$dir/escaped"
    if "$checker" --plain "$dir/plain" --escaped "$dir/escaped" --size "$want" --marks "$marks" \
        "${checks[@]}" "$@" >"$dir/problems"; then
      echo "screen at $want passes:"
      cat "$dir/plain"
      return 0
    fi
    if [ $SECONDS -ge $deadline ]; then
      echo "screen at $want never passed; last problems:" >&2
      cat "$dir/problems" >&2
      echo "--- screen" >&2
      cat "$dir/plain" >&2
      return 1
    fi
    sleep 0.3
  done
}

check_screen "$size" "${expects[@]}"
if [ -n "$resize" ]; then
  tmux -S "$socket" resize-window -t view -x "${resize%x*}" -y "${resize#*x}"
  check_screen "$resize" "${resized_expects[@]}"
fi

tmux -S "$socket" send-keys -t view C-c
for _ in $(seq 1 600); do
  [ -f "$dir/rc" ] && break
  sleep 0.1
done
if [ ! -f "$dir/rc" ]; then
  echo "the command did not end within 60 s of Ctrl-C" >&2
  exit 1
fi
sleep 0.1  # the shell writes the exit code just after the command ends
code=$(cat "$dir/rc")
if [ "$code" != 0 ] || [ -s "$dir/stderr" ]; then
  echo "the command exited with code $code after Ctrl-C; stderr:" >&2
  cat "$dir/stderr" >&2
  exit 1
fi
echo "ended cleanly on Ctrl-C"
