#!/usr/bin/env bash
# The monitor on Xvfb with openbox, driven with xdotool and wmctrl as an operator would:
#   a) no meter, "Сигнал" ticked, "Старт" pressed: the "Внимание" box stands above the
#      waveform window in the window manager's stacking order;
#   b) polling a simulated meter on a pseudo-terminal that stops answering, the window closed
#      and "Сигнал" clicked during the close: the program ends within 10 s;
#   c) a settings file whose connection list is damaged: after a start and a close the stored
#      value is unchanged byte for byte and the operator was told at start-up;
#   d) the delete question of the connection list in Russian;
#   e) recording with "Сигнал" on and the line traced (the status label marks both): the close
#      asks "Идёт запись. Остановить запись и закрыть программу?" above the window; "Нет" keeps
#      the program, "Да" ends it within 10 s, and the journal opens with its records;
#   f) "Стоп" while the line still connects to a peer that never completes the handshake: the
#      connect is abandoned and the form is back to "Старт" within 1 s;
#   g) the journal of step e opened in the trends window through its file dialog: the title
#      names it; a file that is not a journal ends in an "Ошибка" box naming it, the journal
#      still shown;
#   h) a journal that qzcli is still recording opened there: the plot grows with it;
#   i) back to the live poll: with the trends window closed, "Тренды" shows the poll's trend
#      again, not the file;
#   j) "Сохранить" (F2) where no folder can be made: one "Ошибка" box naming the file stands
#      above the main and the trends windows.
#   k) "Возобновлять опрос после ошибок" ticked in the context menu, polling a qzsim process
#      over TCP that is killed: no box opens and the label counts down to the next attempt;
#      qzsim started again on its port is asked for its data again and the values come back.
# A screenshot of every step goes to the folder given as the third argument.
#   desktop_test.sh QZMONITOR QZSIM SCREENSHOT_FOLDER QZCLI
set -uo pipefail

monitor=$1
sim=$2
shots=$3
cli=$4
here="$(cd "$(dirname "$0")" && pwd)"

for tool in Xvfb openbox xdotool wmctrl xprop import python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "desktop: $tool is missing (scripts/install-deps installs it); skipped"
    exit 77
  fi
done

work="$(mktemp -d /tmp/qz-desktop-XXXXXX)"
mkdir -p "$shots"
rm -f "$shots"/*.png
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "desktop: FAIL: $*"
  failures=$((failures + 1))
}

# A private home: settings, port links and the toolkit's runtime folder.
export HOME="$work/home"
export XDG_DATA_HOME="$HOME/.local/share"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_CACHE_HOME="$HOME/.cache"
# Journals go under the documents folder: kept inside the private home too.
export XDG_DOCUMENTS_DIR="$HOME/Documents"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export LANG=ru_RU.UTF-8
unset LC_ALL LANGUAGE QT_QPA_PLATFORM
settings_dir="$XDG_DATA_HOME/VQ/Монитор Каврен-QZ2"
settings="$settings_dir/qzmonitor.ini"
list_key=$'\xD1\xEF\xE8\xF1\xEE\xEA=' # "Список=" in code page 1251
stored_list() { LC_ALL=C grep -a "^$list_key" "$1"; }

# --- the desktop
# Xvfb picks a free display itself and names it on fd 3 once it accepts clients; one that
# does not come up (it happened once on a loaded machine, with nothing in its place) is tried
# again, and its own log tells why.
display=""
for attempt in 1 2 3; do
  : >"$work/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  for _ in $(seq 400); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.05
  done
  if [ -s "$work/display" ]; then
    pids+=("$xvfb")
    display=":$(head -1 "$work/display")"
    break
  fi
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  echo "desktop: Xvfb did not start (attempt $attempt):"
  cat "$work/xvfb.log"
done
[ -n "$display" ] || { echo "desktop: no X display"; exit 1; }
export DISPLAY="$display"
for _ in $(seq 300); do xprop -root >/dev/null 2>&1 && break; sleep 0.05; done
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
wm_ready=0
for _ in $(seq 300); do
  if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; then
    wm_ready=1
    break
  fi
  sleep 0.05
done
if [ $wm_ready -ne 1 ]; then
  echo "desktop: the window manager did not start:"
  cat "$work/openbox.log"
  exit 1
fi

shot() { import -window root "$shots/$1.png" 2>/dev/null || echo "desktop: no screenshot $1"; }

# The managed windows, one "id title" line each. Asked window by window, so a window that
# goes away meanwhile costs only its own line.
windows() {
  local id name
  for id in $(xprop -root -notype _NET_CLIENT_LIST 2>/dev/null | sed -n 's/.*# //p' | tr -d ,); do
    name="$(LC_ALL=C.UTF-8 xprop -id "$id" -notype _NET_WM_NAME 2>/dev/null |
      sed -n 's/^_NET_WM_NAME = "\(.*\)"$/\1/p')"
    echo "$id $name"
  done
}

# Waits up to $2 seconds for a managed window whose title matches the extended regular
# expression $1 and prints its id (the newest one when there are several).
wait_window() {
  local deadline=$((SECONDS + $2)) id
  while [ $SECONDS -le $deadline ]; do
    id="$(windows | while read -r wid title; do
      [[ $title =~ $1 ]] && echo "$wid"
    done | tail -n 1)"
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Clicks at a point of a window, in its own coordinates.
click() {
  echo "desktop: click $1 at $2,$3"
  xdotool mousemove --window "$1" "$2" "$3" click 1
  sleep 0.3
}

# Position of a window in the stacking order (bottom first), -1 when absent.
stack_index() {
  local hex list
  hex="$(printf '0x%x' "$1")"
  list="$(xprop -root -notype _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g')"
  local i=0
  for w in $list; do
    if [ "$((w))" -eq "$((hex))" ]; then
      echo $i
      return
    fi
    i=$((i + 1))
  done
  echo -1
}

# Waits up to $2 seconds for process $1 to end; true when it did.
wait_exit() {
  local deadline=$((SECONDS + $2))
  while [ $SECONDS -lt $deadline ]; do
    kill -0 "$1" 2>/dev/null || { wait "$1" 2>/dev/null; return 0; }
    sleep 0.1
  done
  return 1
}

start_monitor() {
  "$monitor" "$@" >>"$work/monitor.log" 2>&1 &
  monitor_pid=$!
  pids+=($monitor_pid)
}

close_monitor() {
  wmctrl -i -c "$main" 2>/dev/null
  if ! wait_exit "$monitor_pid" 10; then
    fail "$1: the monitor did not end within 10 s of the close"
    kill -9 "$monitor_pid" 2>/dev/null
  fi
}

# A settings file holding the stored list $1 (hexadecimal), its only connection selected.
store_list() {
  printf '[\xCF\xCE\xC4\xCA\xCB\xDE\xD7\xC5\xCD\xC8\xDF]\n\xD1\xEF\xE8\xF1\xEE\xEA=%s\n\xC2\xFB\xE1\xF0\xE0\xED\xEE=0\n' \
    "$1" >"$settings"
}

# The stored connection of step d (qz2m, factory 1234, address 1), reached over TCP at
# 127.0.0.1:$1, as the hexadecimal value of the stored list.
tcp_connection_hex() {
  python3 - "$here/one_connection.hex" "$1" <<'PY'
import sys
blob = bytes.fromhex(open(sys.argv[1]).read().strip())
def pstr(t): return bytes([len(t)]) + t
def ident(t): return b"\x07" + pstr(t)
blob = blob.replace(ident(b"cmtDirect232"), ident(b"cmtDirectTCPIP"))
blob = blob.replace(ident(b"TccnDirect232ConMode"), ident(b"TccnDirectTCPIPConMode"))
key = pstr(b"CustomConMode") + b"\x0a"
at = blob.index(key) + len(key)
size = int.from_bytes(blob[at:at + 4], "little")
prefix = "CustomConMode.CustomCommInterface."
mode = (b"TPF0" + pstr(b"TccnCustomConModeWrapper") + pstr(b"")
        + pstr(b"CustomConMode.MaxAttemptCountOnConnect") + b"\x02\x05"
        + pstr((prefix + "IpAddress").encode()) + b"\x06" + pstr(b"127.0.0.1")
        + pstr((prefix + "IpPort").encode()) + b"\x04" + int(sys.argv[2]).to_bytes(4, "little")
        + b"\x00\x00")
blob = blob[:at] + len(mode).to_bytes(4, "little") + mode + blob[at + 4 + size:]
print(blob.hex().upper())
PY
}

# True while the monitor holds a TCP socket to port $1 in one of the states $2 (a regular
# expression of the hexadecimal states of /proc/net/tcp: 01 established, 02 connecting,
# 08 closed by the peer).
monitor_socket_to() {
  local inodes
  inodes="$(ls -l "/proc/$monitor_pid/fd" 2>/dev/null | sed -n 's/.*socket:\[\([0-9]*\)\]$/\1/p')"
  [ -n "$inodes" ] || return 1
  awk -v port="$(printf '%04X' "$1")" -v states="^($2)$" \
    'NR > 1 && $4 ~ states && substr($3, index($3, ":") + 1) == port { print $10 }' \
    /proc/net/tcp | grep -qxF -f <(printf '%s\n' "$inodes")
}

# The form's controls, in the main window's own coordinates.
signal_box=(215 68)  # "Сигнал"
start_button=(293 28) # "Старт"
device_button=(122 28) # "Измеритель ..."
main_title='^Монитор Каврен-QZ2  v'

# --- a) the box above the waveform window, and the centred window
start_monitor
if main="$(wait_window "$main_title" 15)"; then
  sleep 1 # shown and centred
  shot a1_main_centred
  eval "$(xdotool getwindowgeometry --shell "$main")"
  # The whole window with its frame stands in the middle of the 1280 x 1024 screen.
  read -r fl fr ft fb < <(xprop -id "$main" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  cx=$((X - fl + (WIDTH + fl + fr) / 2))
  cy=$((Y - ft + (HEIGHT + ft + fb) / 2))
  echo "desktop: a: main window centre at $cx,$cy"
  # Across exactly; down within the title bar, which openbox adds once more to the position
  # the toolkit asks for.
  if [ $((cx - 640)) -lt -3 ] || [ $((cx - 640)) -gt 3 ] || [ $((cy - 512)) -lt -3 ] ||
    [ $((cy - 512)) -gt $((ft + 3)) ]; then
    fail "a: the main window is not centred: $X,$Y ${WIDTH}x$HEIGHT, frame $fl $fr $ft $fb"
  fi
  click "$main" "${signal_box[@]}"
  if wave="$(wait_window 'MultiSignal|Масш\.:' 10)"; then
    # Over the middle of the main window, where the box opens, clear of the buttons.
    xdotool windowmove "$wave" 450 420
    sleep 0.5
    click "$main" "${start_button[@]}"
    if box="$(wait_window '^Внимание$' 10)"; then
      sleep 0.5
      shot a2_box_above_waveform
      bi="$(stack_index "$box")"
      wi="$(stack_index "$wave")"
      echo "desktop: a: stacking: waveform $wi, box $bi"
      [ "$bi" -gt "$wi" ] || fail "a: the box ($bi) is beneath the waveform window ($wi)"
      # Closed through the window manager: no key is sent, so none can stay pressed and
      # answer the boxes of the next steps.
      wmctrl -i -c "$box"
      sleep 0.3
    else
      fail "a: no \"Внимание\" box after Start without a meter"
      shot a2_no_box
    fi
  else
    fail "a: no waveform window after ticking \"Сигнал\""
  fi
  close_monitor a
else
  fail "a: the main window did not appear"
fi

# --- d) the delete question in Russian
mkdir -p "$settings_dir"
store_list "$(cat "$here/one_connection.hex")"
start_monitor
if main="$(wait_window "$main_title" 15)"; then
  sleep 1 # shown and centred
  click "$main" "${device_button[@]}"
  if dialog="$(wait_window '^Список подключений$' 10)"; then
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    # The current row is the stored selection; "Удалить" is the fourth button under the grid.
    click "$dialog" 312 $((HEIGHT - 51))
    if question="$(wait_window '^Монитор Каврен-QZ2$' 10)"; then
      sleep 0.5
      shot d_delete_question
      wmctrl -i -c "$question" # closed: the answer is "Нет"
      sleep 0.5
    else
      shot d_no_question
      fail "d: no delete question"
    fi
    wmctrl -i -c "$dialog"
    sleep 0.5
  else
    shot d_no_list
    fail "d: the connection list did not open"
  fi
  close_monitor d
  [ "$(stored_list "$settings")" = "$list_key$(cat "$here/one_connection.hex")" ] ||
    fail "d: the list changed although the deletion was refused"
else
  fail "d: the main window did not appear"
fi

# --- c) a damaged list survives a start and a close
rm -rf "$settings_dir"
mkdir -p "$settings_dir"
damaged='5450463ZZ0FF'
printf '[\xCF\xCE\xC4\xCA\xCB\xDE\xD7\xC5\xCD\xC8\xDF]\n\xD1\xEF\xE8\xF1\xEE\xEA=%s\n[SCALE]\nLevels_0=5\n' \
  "$damaged" >"$settings"
stored_list "$settings" >"$work/stored.before"
start_monitor
if main="$(wait_window "$main_title" 15)"; then
  if box="$(wait_window '^Внимание$' 10)"; then
    sleep 0.5
    shot c1_damaged_list_warning
    wmctrl -i -c "$box"
    sleep 0.3
  else
    shot c1_no_warning
    fail "c: no start-up warning about the damaged list"
  fi
  shot c2_after_warning
  close_monitor c
  stored_list "$settings" >"$work/stored.after"
  cmp -s "$work/stored.before" "$work/stored.after" ||
    fail "c: the stored list changed: $(cat "$work/stored.after")"
  ls "$settings_dir" | grep -q '\.bak$' && fail "c: a backup was written without a save"
else
  fail "c: the main window did not appear"
fi

# --- b) the close while the meter is silent, "Сигнал" clicked during it
rm -rf "$settings_dir" # no list: no start-up box
link="$XDG_DATA_HOME/VQ/ports/com5"
mkdir -p "$(dirname "$link")"
"$sim" --model qz2 --address 1 --pty "$link" --silent-after 0 --log "$work/sim.log" \
  >"$work/sim.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
[ -e "$link" ] || fail "b: the simulator made no pseudo-terminal"
start_monitor poll com5 qz2 1 /start
if main="$(wait_window "$main_title" 15)"; then
  # The first request is on its way and gets no answer.
  for _ in $(seq 50); do [ -s "$work/sim.log" ] && break; sleep 0.1; done
  [ -s "$work/sim.log" ] || fail "b: the meter was never asked"
  shot b1_polling_silent_meter
  started=$SECONDS
  wmctrl -i -c "$main"
  # The close now waits for the unanswered request; a tick of "Сигнал" meanwhile must not
  # start a waveform thread that no one would stop.
  sleep 0.25
  if kill -0 "$monitor_pid" 2>/dev/null; then
    xdotool mousemove --window "$main" "${signal_box[@]}" click 1 2>/dev/null
  else
    echo "desktop: b: the close was over before the tick"
  fi
  sleep 0.2
  shot b2_during_close
  if wait_exit "$monitor_pid" 10; then
    echo "desktop: b: the monitor ended $((SECONDS - started)) s after the close"
  else
    fail "b: the monitor still runs 10 s after the close"
    shot b3_still_running
    kill -9 "$monitor_pid" 2>/dev/null
  fi
else
  fail "b: the main window did not appear"
fi

# Milliseconds of the wall clock (the decimal mark follows the locale).
now_ms() {
  local t=${EPOCHREALTIME//[.,]/}
  echo $((t / 1000))
}

# --- e) the close while recording, with "Сигнал" on and the line traced
rm -rf "$settings_dir" # no list: no start-up box; the demo brings its own meter
mkdir -p "$settings_dir"
printf '[ТРАССИРОВКА]\nВключена=1\n' | iconv -f UTF-8 -t CP1251 >"$settings"
record_box=(345 121)   # "Запись", in "Параметры основной частоты"
journals="$XDG_DOCUMENTS_DIR/VQ/Монитор Каврен-QZ2/Записи"
start_monitor --demo
if main="$(wait_window "$main_title" 15)"; then
  sleep 1 # shown and centred
  click "$main" "${signal_box[@]}"
  if wave="$(wait_window 'MultiSignal|Масш\.:' 10)"; then
    # It opens over the middle of the main window: moved clear of "Запись".
    xdotool windowmove "$wave" 860 740
    sleep 0.5
  else
    fail "e: no waveform window after ticking \"Сигнал\""
  fi
  click "$main" "${record_box[@]}"
  # The status label counts the records ("Записей: N, файл FILE"); the journal, read
  # while it is written, tells the same.
  counted=0
  deadline=$((SECONDS + 30))
  while [ $SECONDS -le $deadline ]; do
    counted="$("$cli" info "$journals"/*.db 2>/dev/null |
      LC_ALL=C sed -n 's/^Записи 3 с: \([0-9][0-9]*\).*/\1/p')"
    [ -n "$counted" ] && [ "$counted" -ge 2 ] && break
    sleep 0.5
  done
  counted=${counted:-0}
  title="$(windows | sed -n "s/^$main //p")"
  echo "desktop: e: caption \"$title\""
  [[ $title == *"Время данных: "* ]] || fail "e: the caption lost the data's time: \"$title\""
  [[ $title == *"Запись"* ]] && fail "e: the caption names the journal: \"$title\""
  shot e1_recording_traced
  if [ "$counted" -ge 2 ]; then
    wmctrl -i -c "$main"
    if question="$(wait_window '^Внимание$' 10)"; then
      sleep 0.5
      shot e2_close_question
      [ "$(stack_index "$question")" -gt "$(stack_index "$main")" ] ||
        fail "e: the close question is beneath the main window"
      wmctrl -i -c "$question" # closed: the answer is "Нет"
      sleep 1
      kill -0 "$monitor_pid" 2>/dev/null || fail "e: \"Нет\" ended the program"
      wait_window "$main_title" 0 >/dev/null || fail "e: \"Нет\" closed the main window"
      wmctrl -i -c "$main"
      if question="$(wait_window '^Внимание$' 10)"; then
        sleep 0.5
        # "Нет" is the default, so that a stray Return keeps the survey: "Да" comes before it.
        xdotool windowactivate --sync "$question" 2>/dev/null
        xdotool key shift+Tab space
      else
        fail "e: no question at the second close"
      fi
    else
      shot e2_no_question
      fail "e: closing while recording asked nothing"
      wmctrl -i -c "$main"
    fi
    started=$(now_ms)
    if ! wait_exit "$monitor_pid" 10; then
      shot e3_still_running
      fail "e: the monitor did not end within 10 s of \"Да\""
      kill -9 "$monitor_pid" 2>/dev/null
    fi
    echo "desktop: e: the monitor ended $(($(now_ms) - started)) ms after \"Да\""
    files=("$journals"/*)
    if [ ${#files[@]} -eq 1 ] && [ -f "${files[0]}" ]; then
      if info="$("$cli" info "${files[0]}" 2>&1)"; then
        stored="$(printf '%s\n' "$info" | LC_ALL=C sed -n 's/^Записи 3 с: \([0-9][0-9]*\).*/\1/p')"
        echo "desktop: e: $counted records counted while recording, the journal holds ${stored:-none}"
        if [ -z "$stored" ] || [ "$stored" -lt 2 ] || [ "$stored" -lt "$counted" ]; then
          fail "e: the journal holds ${stored:-no} records, $counted were counted: $info"
        fi
      else
        fail "e: the journal does not open: $info"
      fi
    else
      fail "e: not one journal in $journals: $(ls -la "$journals" 2>&1)"
    fi
  else
    fail "e: fewer than 2 records in the journal being written"
    close_monitor e
  fi
else
  fail "e: the main window did not appear"
fi

# --- f) "Стоп" while the line connects
# A peer that never accepts: its backlog of none is filled by two connects of its own, so the
# handshake of any further connect is never answered.
python3 -c '
import socket, sys, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(0)
port = s.getsockname()[1]
held = []
for _ in range(2):
    c = socket.socket()
    c.setblocking(False)
    c.connect_ex(("127.0.0.1", port))
    held.append(c)
print(port, flush=True)
time.sleep(300)
' >"$work/listener.port" 2>"$work/listener.err" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/listener.port" ] && break; sleep 0.05; done
port="$(cat "$work/listener.port")"
tcp_hex="$(tcp_connection_hex "$port")"
# True while the monitor has a connect to the peer waiting for its handshake.
monitor_connecting() { monitor_socket_to "$port" 02; }
rm -rf "$settings_dir"
mkdir -p "$settings_dir"
store_list "$tcp_hex"
if [ -z "$port" ] || [ -z "$tcp_hex" ]; then
  fail "f: no listener or no connection: $(cat "$work/listener.err")"
else
  start_monitor
  if main="$(wait_window "$main_title" 15)"; then
    sleep 1 # shown and centred
    click "$main" "${start_button[@]}"
    connecting=0
    for _ in $(seq 100); do
      monitor_connecting && { connecting=1; break; }
      sleep 0.1
    done
    if [ $connecting -eq 1 ]; then
      sleep 3
      monitor_connecting || fail "f: the connect did not wait for the handshake"
      shot f1_connecting
      pressed=$(now_ms)
      xdotool mousemove --window "$main" "${start_button[@]}" click 1 # "Стоп"
      # The connect is given up: its socket goes away.
      abandoned=""
      while [ $(($(now_ms) - pressed)) -lt 1000 ]; do
        if [ -z "$abandoned" ] && ! monitor_connecting; then abandoned=$(($(now_ms) - pressed)); fi
        sleep 0.05
      done
      # One second after "Стоп" the form is stopped: "Измеритель ..." is enabled only then, and
      # opens the connection list.
      xdotool mousemove --window "$main" "${device_button[@]}" click 1
      echo "desktop: f: the connect ended ${abandoned:-later than} ms after \"Стоп\""
      [ -n "$abandoned" ] || fail "f: the connect still waits 1 s after \"Стоп\""
      if dialog="$(wait_window '^Список подключений$' 10)"; then
        sleep 0.5
        shot f2_stopped_list_open
        wmctrl -i -c "$dialog"
        sleep 0.5
      else
        shot f2_not_stopped
        fail "f: 1 s after \"Стоп\" the form was not back to \"Старт\" (no connection list)"
      fi
    else
      shot f1_no_connect
      fail "f: the monitor never connected to the peer after \"Старт\""
    fi
    started=$(now_ms)
    close_monitor f
    echo "desktop: f: the monitor ended $(($(now_ms) - started)) ms after the close"
  else
    fail "f: the main window did not appear"
  fi
fi

# --- g) the journal of step e opened in the trends window, then a file that is not a journal
trends_button=(405 121) # "Тренды", next to "Запись"
# Presses "Открыть запись…" of the trends window $1 and answers the file dialog with the path
# $2, taking screenshot $3 (if given) before Return. False, with the dialog closed, when no
# dialog came or it did not take the path.
open_trend_file() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  click "$1" 85 $((HEIGHT - 24)) # the lowest button on the left
  local dialog
  dialog="$(wait_window '^Открыть запись$' 10)" || { echo "desktop: no file dialog"; return 1; }
  sleep 0.5
  xdotool type --delay 20 "$2"
  sleep 0.3
  [ -z "${3:-}" ] || shot "$3"
  xdotool key Return
  sleep 0.5
  if wait_window '^Открыть запись$' 0 >/dev/null; then
    echo "desktop: the file dialog did not take $2"
    wmctrl -i -c "$dialog"
    return 1
  fi
}
# --- h) a journal that qzcli is still recording, opened in the trends window $1: the plot
# grows while the recording goes on.
follow_live_journal() {
  local live="$work/opened/live_h.db" out="$work/live_h.out" livepid
  # Made here: the background job opens it only once it has started, after the first look.
  : >"$out"
  "$cli" poll --demo --json --record "$live" >"$out" 2>"$work/live_h.err" &
  livepid=$!
  pids+=($livepid)
  local deadline=$((SECONDS + 20))
  while [ "$(wc -l <"$out")" -lt 1 ] && [ $SECONDS -le $deadline ]; do sleep 0.2; done
  if [ "$(wc -l <"$out")" -lt 1 ]; then
    fail "h: qzcli recorded nothing: $(cat "$work/live_h.err")"
  elif ! open_trend_file "$1" "$live"; then
    fail "h: \"Открыть запись…\" did not open $live"
  elif ! wait_window '^Тренды — live_h\.db$' 20 >/dev/null; then
    shot h1_no_live_journal
    fail "h: the trends window does not show the journal being recorded: $(windows)"
  else
    xdotool mousemove 5 5 # the readout stays as it is: only new records change the picture
    sleep 1
    import -window "$1" "$shots/h1_live_journal.png"
    local before after
    before="$(wc -l <"$out")"
    sleep 7 # two records more at the least
    import -window "$1" "$shots/h2_live_journal_later.png"
    after="$(wc -l <"$out")"
    local changed
    changed="$(compare -metric AE "$shots/h1_live_journal.png" "$shots/h2_live_journal_later.png" \
      null: 2>&1 || true)"
    echo "desktop: h: qzcli printed $before then $after records; $changed pixels changed"
    if [ "$after" -le "$before" ]; then
      fail "h: qzcli printed no new record in 7 s"
    elif ! [ "${changed%%[^0-9]*}" -gt 0 ] 2>/dev/null; then
      fail "h: the trends window did not follow the journal being recorded ($changed)"
    fi
  fi
  kill -TERM "$livepid" 2>/dev/null
  wait "$livepid" 2>/dev/null || true
}

recorded=("$journals"/*.db)
if [ ! -f "${recorded[0]}" ]; then
  fail "g: no journal of step e in $journals"
else
  # A path of plain letters: keys of another script do not reach the toolkit through xdotool.
  mkdir -p "$work/opened"
  journal="$work/opened/recorded_e.db"
  cp "${recorded[0]}" "$journal"
  printf 'not a journal\n' >"$work/opened/x.db"
  shown="^Тренды — recorded_e\.db\$"
  rm -rf "$settings_dir"
  start_monitor --demo
  if main="$(wait_window "$main_title" 15)"; then
    sleep 1 # shown and centred
    click "$main" "${trends_button[@]}"
    if ! trends="$(wait_window '^Тренды' 10)"; then
      shot g1_no_trends
      fail "g: no trends window after \"Тренды\""
    elif ! open_trend_file "$trends" "$journal" g1_trends_open_dialog; then
      fail "g: \"Открыть запись…\" did not open $journal"
    elif ! wait_window "$shown" 20 >/dev/null; then
      # The file may load in the background: the title names it once it is shown.
      shot g2_no_journal
      fail "g: the trends window does not show the journal: $(windows)"
    else
      sleep 1
      shot g2_trends_journal
      if ! open_trend_file "$trends" "$work/opened/x.db"; then
        fail "g: \"Открыть запись…\" did not take x.db"
      elif ! box="$(wait_window '^Ошибка$' 20)"; then
        shot g3_no_error
        fail "g: no \"Ошибка\" box for a file that is not a journal"
      else
        sleep 0.5
        shot g3_not_a_journal
        # The box's text, selected by a triple click on it: it must name the file.
        eval "$(xdotool getwindowgeometry --shell "$box")"
        xdotool mousemove --window "$box" $((WIDTH / 2)) 22 click --repeat 3 --delay 100 1
        sleep 0.3
        said="$(python3 "$here/selection_text.py")"
        echo "desktop: g: the box says: ${said//$'\n'/ }"
        [[ $said == *"$work/opened/x.db"* ]] || fail "g: the \"Ошибка\" box does not name x.db"
        xdotool key Return
        sleep 0.5
        if wait_window '^Ошибка$' 0 >/dev/null; then
          fail "g: Return did not close the \"Ошибка\" box"
          wmctrl -i -c "$box"
        fi
        # What was shown before stays.
        wait_window "$shown" 0 >/dev/null || fail "g: after the failure the window shows: $(windows)"
        follow_live_journal "$trends"
        # --- i) the poll's trend again: the window closed, "Тренды" brings the live poll
        wmctrl -i -c "$trends"
        sleep 0.5
        click "$main" "${trends_button[@]}"
        if trends="$(wait_window '^Тренды' 10)" && ! wait_window 'live_h\.db$' 0 >/dev/null; then
          sleep 1
          shot i1_trends_back_on_live
          echo "desktop: i: $(windows | sed -n "s/^$trends //p")"
        else
          shot i1_not_live
          fail "i: \"Тренды\" shows the file again while the poll runs: $(windows)"
        fi
      fi
    fi
    close_monitor g
  else
    fail "g: the main window did not appear"
  fi
fi

# --- j) "Сохранить" where no folder can be made: a file stands where the product folder goes
nodocs="$work/nodocs"
mkdir -p "$nodocs"
printf 'x' >"$nodocs/VQ"
rm -rf "$settings_dir"
XDG_DOCUMENTS_DIR="$nodocs" start_monitor --demo
if main="$(wait_window "$main_title" 15)"; then
  sleep 4 # polling: "Сохранить" is enabled
  click "$main" "${trends_button[@]}"
  if trends="$(wait_window '^Тренды' 10)"; then
    # Above the main window: moved clear of the middle, where the box opens.
    xdotool windowmove "$trends" 40 40
    sleep 0.5
    click "$main" 300 500 # the main window takes the keys again; the trends window stays above
    xdotool key F2
    if box="$(wait_window '^Ошибка$' 10)"; then
      sleep 0.5
      shot j1_save_error_box
      bi="$(stack_index "$box")"
      mi="$(stack_index "$main")"
      ti="$(stack_index "$trends")"
      echo "desktop: j: stacking: main $mi, trends $ti, box $bi"
      { [ "$bi" -gt "$mi" ] && [ "$bi" -gt "$ti" ]; } ||
        fail "j: the box ($bi) is beneath the main ($mi) or trends ($ti) window"
      eval "$(xdotool getwindowgeometry --shell "$box")"
      xdotool mousemove --window "$box" $((WIDTH / 2)) 22 click --repeat 3 --delay 100 1
      sleep 0.3
      said="$(python3 "$here/selection_text.py")"
      echo "desktop: j: the box says: ${said//$'\n'/ }"
      [[ $said == *"$nodocs/VQ/"*"3sec_"* ]] || fail "j: the \"Ошибка\" box does not name the file"
      wmctrl -i -c "$box"
      sleep 1
      wait_window '^Ошибка$' 0 >/dev/null && fail "j: one F2 opened a second box"
    else
      shot j1_no_box
      fail "j: a save that failed showed no \"Ошибка\" box"
    fi
  else
    fail "j: no trends window"
  fi
  close_monitor j
else
  fail "j: the main window did not appear"
fi

# --- k) "Возобновлять опрос после ошибок" set in the context menu: the meter, qzsim over TCP,
# is killed in mid-poll. No box opens and the label counts down to the next attempt; qzsim
# started again on its port is polled on by itself.
# Starts qzsim on 127.0.0.1:$1 (0: any port) logging to $work/$2.log; sim_pid and sim_port.
start_tcp_sim() {
  "$sim" --model qz2m --address 1 --listen "127.0.0.1:$1" --log "$work/$2.log" \
    >"$work/$2.out" 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  for _ in $(seq 100); do [ -s "$work/$2.out" ] && break; sleep 0.05; done
  sim_port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/$2.out")"
}
# Waits up to $2 seconds until the meter logging to $work/$1.log was asked for its 3-second
# data (command 1B 01).
wait_data_asked() {
  local deadline=$((SECONDS + $2))
  while [ $SECONDS -le $deadline ]; do
    awk '$3 == "<-" && toupper($10) == "1B" && $11 == "01" { found = 1 } END { exit !found }' \
      "$work/$1.log" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
k_started=$(now_ms)
rm -rf "$settings_dir"
mkdir -p "$settings_dir"
start_tcp_sim 0 sim_k1
if [ -z "$sim_port" ]; then
  fail "k: qzsim did not listen: $(cat "$work/sim_k1.out")"
else
  store_list "$(tcp_connection_hex "$sim_port")"
  start_monitor
  if main="$(wait_window "$main_title" 15)"; then
    sleep 0.5 # shown and centred
    # The context menu opens at the pointer; its third entry is the option.
    xdotool mousemove --window "$main" 300 500 click 3
    sleep 0.5
    xdotool key Down Down Down Return
    sleep 0.3
    click "$main" "${start_button[@]}"
    if ! wait_data_asked sim_k1 15; then
      shot k1_not_polled
      fail "k: the meter was never asked for its data"
    else
      sleep 0.5 # shown
      kill -9 "$sim_pid"
      wait "$sim_pid" 2>/dev/null
      # The loss is seen at the next request, which finds the connection closed: the line
      # is dropped, tries to connect for about a second and the label counts 3 s down.
      for _ in $(seq 100); do monitor_socket_to "$sim_port" '01|08' || break; sleep 0.1; done
      sleep 1.5
      shot k2_countdown
      windows | grep -E ' (Ошибка|Внимание)$' && fail "k: a box opened after the meter went away"
      lost_title="$(windows | sed -n "s/^$main //p")"
      start_tcp_sim "$sim_port" sim_k2
      if [ -z "$sim_port" ]; then
        fail "k: qzsim did not listen again: $(cat "$work/sim_k2.out")"
      elif ! wait_data_asked sim_k2 20; then
        shot k3_not_resumed
        fail "k: polling did not resume after the meter came back"
      else
        # The record is shown: the caption's data time moves on.
        for _ in $(seq 100); do
          [ "$(windows | sed -n "s/^$main //p")" != "$lost_title" ] && break
          sleep 0.1
        done
        [ "$(windows | sed -n "s/^$main //p")" != "$lost_title" ] ||
          fail "k: no record shown after the meter came back: \"$lost_title\""
        shot k3_resumed
        windows | grep -E ' (Ошибка|Внимание)$' && fail "k: a box opened during the outage"
      fi
    fi
    close_monitor k
    resume_key=$'\xC2\xEE\xE7\xEE\xE1\xED\xEE\xE2\xEB\xFF\xF2\xFC=' # "Возобновлять=", code page 1251
    LC_ALL=C grep -aqx "${resume_key}1" "$settings" || fail "k: the option was not kept"
  else
    fail "k: the main window did not appear"
  fi
fi
echo "desktop: k: $(($(now_ms) - k_started)) ms"

echo "desktop: screenshots in $shots"
if [ $failures -ne 0 ]; then
  echo "desktop: $failures failure(s); the monitor said:"
  cat "$work/monitor.log"
  exit 1
fi
echo "desktop: all steps passed"
