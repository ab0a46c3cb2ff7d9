"""A call played by the stand-in, recorded by the program end to end (Skype-API audio)."""
import glob
import math
import os
import re
import time
import xml.etree.ElementTree as ET

import audiocheck
from harness import TITLE, HarnessError, Sim, wait_for

PROGRAM = "TovikSkypeRecorder.exe"
CONFIG = r"HKCU\Software\Velmora\config"
STATUS = 1009


def use_skype_audio(w, **dwords):
    w.reg("add", CONFIG, "/v", "capf", "/t", "REG_DWORD", "/d", "0", "/f")
    for name, value in dwords.items():
        w.reg("add", CONFIG, "/v", name, "/t", "REG_DWORD" if name != "rectype" else "REG_BINARY",
              "/d", ("%02x" % value) if name == "rectype" else str(value), "/f")


def call_scenario(call="1234", partner="echo123", kind="INCOMING_P2P", talk_ms=6000, extra_audio=""):
    return """
set call {call}
answer GET CURRENTUSERHANDLE = CURRENTUSERHANDLE tester
answer "get call {call} type" = "CALL {call} TYPE {kind}"
answer "get call {call} partner_handle" = "CALL {call} PARTNER_HANDLE {partner}"
answer "get call {call} target_identity" = "CALL {call} TARGET_IDENTITY {partner}"
answer "get call {call} status" = "CALL {call} STATUS INPROGRESS"
audio mic tone 440 8000
audio spk tone 1000 8000
{extra_audio}
wait-discover 30000
wait-command "search friends" 10000
send "CALL {call} STATUS RINGING"
wait-command "get call {call} partner_handle" 5000
sleep 700
send "CALL {call} STATUS INPROGRESS"
wait-command "alter call {call} set_capture_mic port=\\"38377\\"" 5000
wait-command "alter call {call} set_output soundcard=\\"default\\", port=\\"38376\\"" 5000
wait-connected mic 5000
wait-connected spk 5000
sleep {talk_ms}
send "CALL {call} STATUS FINISHED"
sleep 500
exit
""".format(call=call, partner=partner, kind=kind, talk_ms=talk_ms, extra_audio=extra_audio)


def start_call(w, scenario):
    """The stand-in first, then the program, which finds it by its Discover."""
    sim = Sim(w, scenario)
    sim.wait_ready()
    return sim, w.start(PROGRAM)


def sent_ms(log, side):
    """Milliseconds of audio the stand-in sent on one side, from its AUDIO-TOTAL line."""
    m = re.findall(r"AUDIO-TOTAL .*?%s (\d+) bytes" % side, log)
    if not m:
        raise AssertionError("no AUDIO-TOTAL for %s in the stand-in's log" % side)
    return sum(int(x) for x in m) / 32.0


def records(w):
    path = os.path.join(w.appdata(), "Tovik", "record.xml")
    if not os.path.exists(path):
        return []
    root = ET.parse(path).getroot()
    out = []
    for rec in root.find("list"):
        out.append({child.tag: (child.text or "") for child in rec})
    return out


def recordings(w):
    return sorted(glob.glob(os.path.join(w.documents(), "Tovik Skype Recorder", "*.mp3")))


def wait_for_record(w, count=1, timeout=30):
    if not wait_for(lambda: len(records(w)) >= count, timeout, 0.05):
        raise HarnessError("record.xml holds %d records, not %d" % (len(records(w)), count))
    return records(w)


def test_incoming_call_is_recorded_to_mp3_and_history(w):
    use_skype_audio(w)
    sim, proc = start_call(w, call_scenario(talk_ms=6000, extra_audio="audio segment 100,700,1022"))
    w.wait_text(STATUS, "Recording in progress ...", timeout_ms=60000)
    shot = w.screenshot(os.path.join(os.environ.get("TOVIK_TEST_OUT", w.root), "main-window-recording.png"))
    log = sim.finish(timeout=90)
    t_finished = time.time()
    recs = wait_for_record(w)
    print("  record.xml held the record %.2f s after the stand-in ended" % (time.time() - t_finished))
    assert os.path.getsize(shot) > 0
    assert len(recs) == 1, recs
    rec = recs[0]
    files = recordings(w)
    assert len(files) == 1, files
    mp3 = files[0]
    assert re.fullmatch(r"echo123_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d\.mp3", os.path.basename(mp3)), mp3
    assert rec["name"] == "echo123"
    assert rec["type"] == "1"
    assert rec["new"] == "true"
    assert rec["file"].endswith("\\" + os.path.basename(mp3)), rec["file"]
    assert 6 <= int(rec["duration"]) <= 10, rec
    assert re.fullmatch(r"\d+", rec["time"]), rec

    d = audiocheck.decode(mp3)
    mic_ms, spk_ms = sent_ms(log, "mic"), sent_ms(log, "spk")
    expected = max(mic_ms, spk_ms) / 1000.0
    print("  sent mic %.0f ms, spk %.0f ms; decoded %.3f s at %d Hz, %d channels" % (
        mic_ms, spk_ms, d.duration, d.rate, d.channels))
    assert d.channels == 2 and d.rate == 32000
    # One MP3 frame (1152 samples) plus the encoder delay either side.
    assert abs(d.duration - expected) < 0.1, (d.duration, expected)
    mid0, mid1 = 0.5, d.duration - 0.5
    left440, left1k = d.tone_db(0, 440, mid0, mid1), d.tone_db(0, 1000, mid0, mid1)
    right440, right1k = d.tone_db(1, 440, mid0, mid1), d.tone_db(1, 1000, mid0, mid1)
    print("  left: 440 Hz %.1f dB, 1000 Hz %.1f dB; right: 440 Hz %.1f dB, 1000 Hz %.1f dB" % (
        left440, left1k, right440, right1k))
    tone = 20 * math.log10(8000 / 32768.0)
    assert abs(left440 - tone) < 1.0 and left1k < tone - 30, "microphone tone not alone on the left"
    assert abs(right1k - tone) < 1.0 and right440 < tone - 30, "remote tone not alone on the right"
    gaps = d.silent_stretches(0, start=mid0, end=mid1) + d.silent_stretches(1, start=mid0, end=mid1)
    assert not gaps, "silent stretches inside the call: %s" % gaps
    assert w.text(STATUS) == "Ready for recording ..."
    w.exit_program(proc)


def test_call_queries_come_before_the_redirection_and_outgoing_calls_are_type_2(w):
    use_skype_audio(w, amode=0, asample=0)  # mono, 16000 Hz
    sim, proc = start_call(w, call_scenario(call="88", partner="bob", kind="OUTGOING_P2P", talk_ms=3000))
    sim.finish(timeout=90)
    cmds = sim.commands()
    alter = cmds.index('alter call 88 set_capture_mic port="38377"')
    assert cmds[alter + 1] == 'alter call 88 set_output soundcard="default", port="38376"', cmds[alter:alter + 3]
    for query in ("get call 88 type", "get call 88 partner_handle"):
        assert query in cmds[:alter], (query, cmds[:alter])
    rec = wait_for_record(w)[0]
    assert rec["type"] == "2" and rec["name"] == "bob", rec
    d = audiocheck.decode(recordings(w)[0])
    assert d.channels == 1 and d.rate == 16000, (d.channels, d.rate)
    # Mono adds both voices.
    mid0, mid1 = 0.5, d.duration - 0.5
    tone = 20 * math.log10(8000 / 32768.0)
    assert abs(d.tone_db(0, 440, mid0, mid1) - tone) < 1.0
    assert abs(d.tone_db(0, 1000, mid0, mid1) - tone) < 1.0
    w.exit_program(proc)


def test_manual_mode_records_only_after_the_start_button(w):
    use_skype_audio(w, rectype=0)
    sim, proc = start_call(w, call_scenario(call="31", partner="carol", talk_ms=9000))
    w.wait_text(STATUS, "Ready for recording ...", timeout_ms=60000)
    # The call goes into progress and streams; nothing is recorded yet.
    wait_for(lambda: "connected spk" in sim.log(), 30)
    time.sleep(2)
    assert w.text(STATUS) == "Ready for recording ...", w.text(STATUS)
    assert recordings(w) == []
    t_press = time.time()
    w.wintool("command", TITLE, "1001")
    w.wait_text(STATUS, "Recording in progress ...", timeout_ms=10000)
    log = sim.finish(timeout=90)
    recs = wait_for_record(w)
    assert len(recs) == 1 and recs[0]["name"] == "carol", recs
    d = audiocheck.decode(recordings(w)[0])
    call_s = sent_ms(log, "spk") / 1000.0
    # Only the part after the press: clearly shorter than the call.
    assert 2.0 < d.duration < call_s - 1.5, (d.duration, call_s)
    w.exit_program(proc)


def test_pause_leaves_the_paused_stretch_out_of_the_file(w):
    use_skype_audio(w)
    sim, proc = start_call(w, call_scenario(call="41", partner="dave", talk_ms=9000))
    w.wait_text(STATUS, "Recording in progress ...", timeout_ms=60000)
    time.sleep(2)
    t0 = time.time()
    w.wintool("command", TITLE, "1002")
    w.wait_text(STATUS, "Recording pause ...", timeout_ms=10000)
    assert w.text(1002) == "Resume Recording"
    time.sleep(3)
    w.wintool("command", TITLE, "1002")
    paused = time.time() - t0
    w.wait_text(STATUS, "Recording in progress ...", timeout_ms=10000)
    log = sim.finish(timeout=90)
    rec = wait_for_record(w)[0]
    d = audiocheck.decode(recordings(w)[0])
    call_s = sent_ms(log, "spk") / 1000.0
    print("  call %.2f s, paused about %.2f s, file %.2f s, history %s s" % (call_s, paused, d.duration, rec["duration"]))
    assert call_s - paused - 1.0 < d.duration < call_s - 2.0, (d.duration, call_s, paused)
    # The paused stretch is cut out, not kept as silence.
    gaps = d.silent_stretches(0, start=0.3, end=d.duration - 0.3)
    assert not gaps, gaps
    assert int(rec["duration"]) >= int(call_s) - 1, rec  # pauses count in the history
    w.exit_program(proc)


def test_two_overlapping_calls_make_one_file_and_one_record(w):
    use_skype_audio(w)
    sim = Sim(w, """
answer GET CURRENTUSERHANDLE = CURRENTUSERHANDLE tester
answer "get call 1 type" = "CALL 1 TYPE INCOMING_P2P"
answer "get call 1 partner_handle" = "CALL 1 PARTNER_HANDLE echo123"
answer "get call 2 type" = "CALL 2 TYPE INCOMING_P2P"
answer "get call 2 partner_handle" = "CALL 2 PARTNER_HANDLE alice"
wait-discover 30000
wait-command "search friends" 10000
send "CALL 1 STATUS RINGING"
wait-command "get call 1 partner_handle" 5000
sleep 500
send "CALL 1 STATUS INPROGRESS"
wait-connected mic 5000
wait-connected spk 5000
sleep 2000
audio mic off
audio spk off
send "CALL 2 STATUS RINGING"
wait-command "get call 2 partner_handle" 5000
sleep 500
send "CALL 2 STATUS INPROGRESS"
sleep 1500
send "CALL 1 STATUS FINISHED"
sleep 2000
send "CALL 2 STATUS FINISHED"
sleep 500
exit
""")
    sim.wait_ready()
    proc = w.start(PROGRAM)
    w.wait_text(STATUS, "Recording in progress ...", timeout_ms=60000)
    deadline = time.time() + 60
    saw_recording_after_first_end = False
    while sim.proc.poll() is None and time.time() < deadline:
        if "CALL 1 STATUS FINISHED" in sim.log() and "CALL 2 STATUS FINISHED" not in sim.log():
            saw_recording_after_first_end = w.text(STATUS) == "Recording in progress ..."
            break
        time.sleep(0.1)
    sim.finish(timeout=60)
    recs = wait_for_record(w)
    time.sleep(1)
    assert saw_recording_after_first_end, "the end of the first call stopped the recording"
    assert len(records(w)) == 1, records(w)
    assert records(w)[0]["name"] == "echo123,alice", records(w)
    assert len(recordings(w)) == 1, recordings(w)
    w.exit_program(proc)


def test_a_dropped_stream_is_redirected_again(w):
    use_skype_audio(w)
    sim, proc = start_call(w, call_scenario(call="61", partner="erin", talk_ms=5000, extra_audio="audio mic drop 1500"))
    sim.finish(timeout=90)
    cmds = sim.commands()
    mic = [c for c in cmds if c == 'alter call 61 set_capture_mic port="38377"']
    out = [c for c in cmds if c == 'alter call 61 set_output soundcard="default", port="38376"']
    assert len(mic) >= 2 and len(out) >= 2, cmds
    assert "connected mic 61 port 38377 connection 2" in sim.log(), sim.log()[-2000:]
    assert len(wait_for_record(w)) == 1
    w.exit_program(proc)


def test_exit_while_recording_writes_no_history_entry(w):
    use_skype_audio(w)
    sim, proc = start_call(w, call_scenario(call="71", partner="frank", talk_ms=20000))
    w.wait_text(STATUS, "Recording in progress ...", timeout_ms=60000)
    time.sleep(2)
    w.exit_program(proc)
    assert records(w) == []
    files = recordings(w)
    assert len(files) == 1
    d = audiocheck.decode(files[0])  # what was recorded is still a playable file
    assert d.duration > 1.0
    hispos = w.reg_query(CONFIG)["hispos"][1]
    assert re.fullmatch(r"-?\d+,-?\d+,-?\d+,-?\d+", hispos), hispos


def test_an_mp3_that_cannot_be_created_is_reported_and_the_call_still_enters_the_history(w):
    use_skype_audio(w)
    w.reg("add", CONFIG, "/v", "sfolder", "/t", "REG_SZ", "/d", r"C:\no such folder\deeper", "/f")
    sim, proc = start_call(w, call_scenario(call="81", partner="gina", talk_ms=4000))
    caption = "Tovik Skype Recorder Create Mp3 File Failed!"
    w.wait_window(caption, timeout_ms=60000)
    shot = w.screenshot(os.path.join(os.environ.get("TOVIK_TEST_OUT", w.root), "mp3-create-failed.png"))
    texts = w.wintool("list", caption).stdout.decode("utf-8", errors="replace").strip()
    w.wintool("command", caption, "1")  # OK
    w.wait_text(STATUS, "Recording in progress ...", timeout_ms=10000)
    sim.finish(timeout=90)
    recs = wait_for_record(w)
    assert texts, "the message box shows no text"
    assert recs[0]["name"] == "gina" and int(recs[0]["duration"]) >= 3, recs
    assert recs[0]["file"].startswith("C:\\no such folder\\deeper\\gina_"), recs[0]
    assert os.path.getsize(shot) > 0
    w.exit_program(proc)


def test_a_taken_port_is_reported_and_the_other_stream_still_records(w):
    import socket
    blocker = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    blocker.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 0)
    try:
        blocker.bind(("127.0.0.1", 38377))
        blocker.listen(1)
        use_skype_audio(w)
        sim = Sim(w, call_scenario(call="91", partner="hal", talk_ms=4000))
        sim.wait_ready()
        proc = w.start(PROGRAM)
        w.wait_window(TITLE, timeout_ms=60000)
        box = wait_for(lambda: "port '38377'" in w.wintool("list", TITLE).stdout.decode("utf-8", errors="replace"), 30)
        texts = w.wintool("list", TITLE).stdout.decode("utf-8", errors="replace")
        w.screenshot(os.path.join(os.environ.get("TOVIK_TEST_OUT", w.root), "port-taken.png"))
        assert box, texts
        assert ("Create socket failed! Please make sure your firewall/anti-virus software does NOT block "
                "the port '38377'!") in texts, texts
        assert "'38376'" not in texts
        # Dismiss the box: the main window's initialisation goes on from there.
        w.wintool("command", TITLE, "2")
        w.wait_text(STATUS, "Recording in progress ...", timeout_ms=60000)
        log = sim.finish(timeout=90)
        assert "connected spk 91 port 38376" in log, log[-2000:]
        rec = wait_for_record(w)[0]
        assert rec["name"] == "hal"
        d = audiocheck.decode(recordings(w)[0])
        mid0, mid1 = 0.5, max(0.6, d.duration - 0.5)
        tone = 20 * math.log10(8000 / 32768.0)
        # Only the remote side arrived; the frames it had alone go to the right channel.
        assert abs(d.tone_db(1, 1000, mid0, mid1) - tone) < 1.0
        assert d.rms_db(0, mid0, mid1) < -60
        w.exit_program(proc)
    finally:
        blocker.close()
