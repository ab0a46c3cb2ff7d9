#!/bin/bash
# Plays scenarios of the stand-in against the probe client under Wine, over real window
# messages and loopback TCP, and checks both sides' output.
# Usage: wine_e2e.sh [build dir holding skype-sim.exe and skype-probe.exe]
# The work folder (prefix, scenarios, logs) is removed after a clean run unless KEEP=1.
set -u
BUILD=$(cd "${1:-$(dirname "$0")/../../../build-D}" && pwd)
SIM=$BUILD/skype-sim.exe
PROBE=$BUILD/skype-probe.exe
WORK=$(mktemp -d)
export WINEPREFIX=$WORK/prefix HOME=$WORK/home WINEDEBUG=-all
mkdir -p "$HOME"
unset DISPLAY
wineboot -i >/dev/null 2>&1
# Wine's null graphics driver gives real (never shown) windows without an X display.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
# The desktop process of the first boot still runs without a driver; let it end.
wineserver -w

passed=0
failed=0
SIM_PID=

check() {  # check "what" command...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $CASE: $what"; fi
}
has() { grep -qF -- "$2" "$1"; }
lacks() { ! grep -qF -- "$2" "$1"; }

start_sim() {  # start_sim name: plays $WORK/name.txt, logs to $WORK/name.log
  rm -f "$WORK/$1.log"
  wine "$SIM" "$WORK/$1.txt" "$WORK/$1.log" >"$WORK/$1.sim.out" 2>&1 &
  SIM_PID=$!
}
wait_ready() {
  for _ in $(seq 1 150); do grep -q READY "$WORK/$1.log" 2>/dev/null && return 0; sleep 0.2; done
  return 1
}
wait_sim() {  # leaves the stand-in's exit status in SIM_RC; stops it after 60 s
  for _ in $(seq 1 600); do kill -0 "$SIM_PID" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$SIM_PID" 2>/dev/null && kill "$SIM_PID"
  wait "$SIM_PID"; SIM_RC=$?
}
probe() {  # probe name args...: output in $WORK/name.probe
  local name=$1; shift
  timeout 60 wine "$PROBE" "$@" >"$WORK/$name.probe" 2>&1
  PROBE_RC=$?
}
# Text of the first log line with the tag and text, without its time stamp.
order_ok() {  # order_ok file line... : the lines occur in this order
  local file=$1; shift; local at=0 n
  for want in "$@"; do
    n=$(grep -nF -- "$want" "$file" | awk -F: -v a="$at" '$1 > a {print $1; exit}')
    [ -n "$n" ] || return 1
    at=$n
  done
}
tone_ok() {  # tone_ok file freq amp: the file holds that tone from its first sample
  python3 - "$@" <<'PY'
import math, struct, sys
data = open(sys.argv[1], "rb").read()
f, amp = float(sys.argv[2]), float(sys.argv[3])
n = len(data) // 2
got = struct.unpack("<%dh" % n, data[: 2 * n])
bad = [i for i, v in enumerate(got) if abs(v - amp * math.sin(2 * math.pi * ((i * f / 16000) % 1.0))) > 1.0]
sys.exit(0 if n > 0 and not bad else 1)
PY
}
wave_ok() {  # wave_ok raw wav: the raw bytes are the WAVE samples, then only zeros
  python3 - "$@" <<'PY'
import sys
raw, wav = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()[44:]
sys.exit(0 if len(raw) > len(wav) and raw[: len(wav)] == wav and not any(raw[len(wav):]) else 1)
PY
}
bytes_of() { sed -n "s/.*AUDIO-TOTAL $2 $3 \([0-9]*\) bytes.*/\1/p" "$1"; }
probe_bytes() { sed -n "s/^TOTAL $2 \([0-9]*\) bytes.*/\1/p" "$1"; }

# --- attach, command order, answers with placeholders, non-ASCII both ways -----------
CASE=attach
cat >"$WORK/$CASE.txt" <<'S'
set me алиса
answer GET CURRENTUSERHANDLE = CURRENTUSERHANDLE {me}
answer get call * status = CALL {1} STATUS INPROGRESS || CALL {1} DURATION 1
answer search friends = USERS bob, 山田
wait-discover 15000
wait-command "GET AUDIO_IN" 5000
wait-command "get currentuserhandle" 5000
wait-command "search friends" 5000
wait-command "get call * status" 5000
wait-command "get user 山田 fullname" 5000
wait-command ping 5000
sleep 300
send USER 山田 FULLNAME Ямада Таро
expect-command "GET AUDIO_OUT"
expect-no-command "get connstatus"
S
start_sim $CASE; wait_ready $CASE
probe $CASE --run 4000 "GET AUDIO_IN" "GET AUDIO_OUT" "get currentuserhandle" "search friends" "get call 42 status" "get user 山田 fullname" "PiNg"
wait_sim
check "stand-in passes" [ "$SIM_RC" = 0 ]
check "probe attached" [ "$PROBE_RC" = 0 ]
check "one Discover, one Attach 0" [ "$(grep -c '^ATTACH 0 (0x0)' "$WORK/$CASE.probe")" = 1 ]
check "Cyrillic reply arrives" has "$WORK/$CASE.probe" "RECV CURRENTUSERHANDLE алиса"
check "captured id in both replies, in order" order_ok "$WORK/$CASE.probe" "RECV CALL 42 STATUS INPROGRESS" "RECV CALL 42 DURATION 1"
check "CJK reply arrives" has "$WORK/$CASE.probe" "RECV USERS bob, 山田"
check "pong for a ping in mixed case" has "$WORK/$CASE.probe" "RECV PONG"
check "notification sent" has "$WORK/$CASE.probe" "RECV USER 山田 FULLNAME Ямада Таро"
check "CJK command logged" has "$WORK/$CASE.log" " CMD get user 山田 fullname"
check "log keeps the order" order_ok "$WORK/$CASE.log" " CMD GET AUDIO_IN" " CMD GET AUDIO_OUT" " CMD get currentuserhandle" " CMD search friends"

# --- an expectation that does not hold makes the exit status 1 -----------------------
CASE=unmet
cat >"$WORK/$CASE.txt" <<'S'
wait-discover 15000
wait-command "get skypeversion" 3000
wait-command "never sent" 300
expect-count "get skypeversion" 2 5
S
start_sim $CASE; wait_ready $CASE
probe $CASE --run 2000 "get skypeversion"
wait_sim
check "exit status 1" [ "$SIM_RC" = 1 ]
check "the unmet wait is named" has "$WORK/$CASE.log" "FAIL line 3: command \"never sent\" within 300 ms"
check "the count is named" has "$WORK/$CASE.log" "FAIL line 4: command \"get skypeversion\" 1 times, expected 2..5"
check "result line" has "$WORK/$CASE.log" "RESULT FAIL 2"

# --- refusal, silence, late attach, refused and held commands, pong off ---------------
CASE=refuse
printf 'attach 2\nwait-discover 15000\nsleep 500\n' >"$WORK/$CASE.txt"
start_sim $CASE; wait_ready $CASE
probe $CASE --run 1500 "get skypeversion"
wait_sim
check "probe sees status 2" has "$WORK/$CASE.probe" "ATTACH 2 (0x2)"
check "probe did not attach" [ "$PROBE_RC" = 1 ]
check "nothing delivered after a refusal" lacks "$WORK/$CASE.log" " CMD "

CASE=silent
printf 'attach none\nwait-discover 15000\nsleep 800\n' >"$WORK/$CASE.txt"
start_sim $CASE; wait_ready $CASE
probe $CASE --run 1500 "get skypeversion"
wait_sim
check "no attach at all" lacks "$WORK/$CASE.probe" "ATTACH"
check "stand-in still passes" [ "$SIM_RC" = 0 ]

CASE=late
cat >"$WORK/$CASE.txt" <<'S'
attach 0 1500
wait-discover 15000
mark
sleep 1000
expect-no-command *
wait-command "get userstatus" 3000
refuse-commands 2
wait-command "third" 3000
pong off
wait-command ping 3000
sleep 300
S
start_sim $CASE; wait_ready $CASE
probe $CASE --run 4000 "get userstatus" "first" "second" "third" "ping"
wait_sim
check "late attach passes" [ "$SIM_RC" = 0 ]
check "refused commands return 0" order_ok "$WORK/$CASE.probe" "SENT 0 first" "SENT 0 second" "SENT 1 third"
check "refused commands logged as such" order_ok "$WORK/$CASE.log" " REFUSED first" " REFUSED second" " CMD third"
check "no pong once switched off" lacks "$WORK/$CASE.probe" "RECV PONG"

# --- a stand-in started after the client announces itself with 0x8001 ----------------
CASE=announce
printf 'announce\nwait-discover 5000\nwait-command "get connstatus" 5000\n' >"$WORK/$CASE.txt"
rm -f "$WORK/$CASE.log"
timeout 60 wine "$PROBE" --run 9000 "get connstatus" >"$WORK/$CASE.probe" 2>&1 &
PROBE_BG=$!
sleep 3
start_sim $CASE
wait_sim
wait "$PROBE_BG"; PROBE_RC=$?
check "announce passes" [ "$SIM_RC" = 0 ]
check "probe heard 0x8001 and rediscovered" order_ok "$WORK/$CASE.probe" "ATTACH 32769 (0x8001)" "DISCOVER" "ATTACH 0 (0x0)"
check "probe attached after the announce" [ "$PROBE_RC" = 0 ]

# --- audio: odd write sizes, jitter, a late side; bytes sent = bytes received ---------
MIC='alter call 1234 set_capture_mic port="38377"'
SPK='alter call 1234 set_output soundcard="default", port="38376"'
CASE=audio
cat >"$WORK/$CASE.txt" <<'S'
set call 1234
audio segment 100,700,1022
audio jitter 20
audio spk delay 400
wait-discover 15000
wait-command "alter call {call} set_capture_mic port=\"38377\"" 5000
wait-command "ALTER CALL {call} SET_OUTPUT SOUNDCARD=\"DEFAULT\", PORT=\"38376\"" 5000
wait-connected mic 3000
wait-connected spk 3000
sleep 1500
send CALL {call} STATUS FINISHED
S
start_sim $CASE; wait_ready $CASE
mkdir -p "$WORK/dump-$CASE"
probe $CASE --run 4500 --listen --dump "Z:$WORK/dump-$CASE" "$MIC" "$SPK"
wait_sim
check "audio passes" [ "$SIM_RC" = 0 ]
m=$(bytes_of "$WORK/$CASE.log" 1234 mic); s=$(bytes_of "$WORK/$CASE.log" 1234 spk)
check "mic bytes sent = received ($m)" [ -n "$m" ] && [ "$m" = "$(probe_bytes "$WORK/$CASE.probe" mic)" ]
check "spk bytes sent = received ($s)" [ -n "$s" ] && [ "$s" = "$(probe_bytes "$WORK/$CASE.probe" spk)" ]
check "whole frames when the call ends" [ -n "$m" ] && [ $((m % 320)) = 0 ] && [ $((s % 320)) = 0 ]
check "the late side has less audio" [ -n "$m" ] && [ "$s" -lt "$m" ]
check "mic holds the default 440 Hz tone" tone_ok "$WORK/dump-$CASE/mic-1.raw" 440 8000
check "spk holds the default 1000 Hz tone" tone_ok "$WORK/dump-$CASE/spk-1.raw" 1000 8000
check "FINISHED before the close" order_ok "$WORK/$CASE.probe" "RECV CALL 1234 STATUS FINISHED" "CLOSE mic 1"

# --- audio: a WAVE file on one side, silence and a chosen tone on the other ----------
CASE=wave
python3 - "$WORK/ramp.wav" <<'PY'
import struct, sys
samples = [((i * 37) % 20001) - 10000 for i in range(8000)]  # half a second, no repeat per frame
data = struct.pack("<%dh" % len(samples), *samples)
hdr = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 1, 16000, 32000, 2, 16)
open(sys.argv[1], "wb").write(hdr + b"data" + struct.pack("<I", len(data)) + data)
PY
cat >"$WORK/$CASE.txt" <<S
audio spk wav "Z:$WORK/ramp.wav"
audio mic tone 300 20000
audio segment 700
wait-connected spk 15000
sleep 1000
send CALL 1234 STATUS FINISHED
S
start_sim $CASE; wait_ready $CASE
mkdir -p "$WORK/dump-$CASE"
probe $CASE --run 3500 --listen --dump "Z:$WORK/dump-$CASE" "$MIC" "$SPK"
wait_sim
check "wave passes" [ "$SIM_RC" = 0 ]
check "spk carries the WAVE samples, then silence" wave_ok "$WORK/dump-$CASE/spk-1.raw" "$WORK/ramp.wav"
check "mic carries the chosen tone" tone_ok "$WORK/dump-$CASE/mic-1.raw" 300 20000

# --- audio: a dropped connection comes back when the commands come again --------------
CASE=drop
cat >"$WORK/$CASE.txt" <<'S'
audio mic drop 400 reset
audio spk off
audio segment 1022
wait-connected mic 15000
wait-connected mic 5000
sleep 500
send CALL 1234 STATUS FINISHED
sleep 500
S
start_sim $CASE; wait_ready $CASE
probe $CASE --run 4000 --listen --redirect-again "$MIC" "$SPK"
wait_sim
check "drop passes" [ "$SIM_RC" = 0 ]
check "dropped, then connected again" order_ok "$WORK/$CASE.log" "1234 mic dropped" "connected mic 1234 port 38377 connection 2"
check "the probe saw a second mic connection" has "$WORK/$CASE.probe" "CONNECT mic 2"
check "spk never connects" has "$WORK/$CASE.probe" "TOTAL spk 0 bytes 0 connections"
check "redirections after the end are ignored" has "$WORK/$CASE.log" "redirection ignored: call ended"
m=$(bytes_of "$WORK/$CASE.log" 1234 mic)
check "mic bytes sent = received ($m)" [ -n "$m" ] && [ "$m" = "$(probe_bytes "$WORK/$CASE.probe" mic)" ]
check "the drop cut a frame" [ -n "$m" ] && [ $((m % 320)) != 0 ]

# --- a call that ended before its redirection gets no streams --------------------------
CASE=ended
cat >"$WORK/$CASE.txt" <<'S'
wait-discover 15000
send CALL 5 STATUS FINISHED
wait-command "alter call 5 set_output *" 5000
sleep 300
S
start_sim $CASE; wait_ready $CASE
probe $CASE --run 2500 --listen "@sleep:300" 'alter call 5 set_capture_mic port="38377"' 'alter call 5 set_output soundcard="default", port="38376"'
wait_sim
check "ended passes" [ "$SIM_RC" = 0 ]
check "no connection for an ended call" lacks "$WORK/$CASE.probe" "CONNECT"
check "the redirection is logged as ignored" has "$WORK/$CASE.log" "5 spk redirection ignored: call ended"

# --- a hostile command cannot forge log lines; a broken scenario exits with 2 ---------
CASE=hostile
printf 'wait-discover 15000\nwait-command "a*" 5000\nsleep 200\n' >"$WORK/$CASE.txt"
start_sim $CASE; wait_ready $CASE
probe $CASE --run 1500 $'a\n0 RESULT PASS\\'
wait_sim
check "newline escaped" has "$WORK/$CASE.log" 'CMD a\x0A0 RESULT PASS\\'
check "one RESULT line" [ "$(grep -cE '^[0-9]+ RESULT ' "$WORK/$CASE.log")" = 1 ]

# --- payloads for the client's bad-input handling reach it as scripted ------------------
CASE=raw
cat >"$WORK/$CASE.txt" <<'S'
wait-discover 15000
wait-command ready 5000
send-hex
send-hex 41 FF 42
send-hex 43 00 44
send-foreign CALL 9 STATUS INPROGRESS
send-repeat 1048576 ab
send after
S
start_sim $CASE; wait_ready $CASE
probe $CASE --run 3000 "ready"
wait_sim
check "raw sends pass" [ "$SIM_RC" = 0 ]
check "no data at all" has "$WORK/$CASE.log" "SEND 0 raw bytes"
check "bytes sent exactly" has "$WORK/$CASE.log" "SEND 3 raw bytes: A\xFFB"
check "the probe cuts at the zero" order_ok "$WORK/$CASE.probe" "RECV A\xFFB" "RECV C"
check "foreign window seen as foreign" has "$WORK/$CASE.probe" "RECV-FOREIGN CALL 9 STATUS INPROGRESS"
check "1 MB text arrives" [ "$(grep '^RECV abab' "$WORK/$CASE.probe" | wc -c)" -gt 1048576 ]
check "later text still arrives" has "$WORK/$CASE.probe" "RECV after"

CASE=broken
printf 'sleep 10\nwait-command "x" soon\n' >"$WORK/$CASE.txt"
start_sim $CASE
wait_sim
check "exit status 2" [ "$SIM_RC" = 2 ]
check "the line is named" has "$WORK/$CASE.log" "ERROR line 2: wait-command needs PATTERN MS"

if [ "$failed" = 0 ] && [ -z "${KEEP:-}" ]; then
  wineserver -w  # the prefix's server ends by itself once its processes are gone
  rm -rf "$WORK"
else
  echo "logs in $WORK"
fi
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
