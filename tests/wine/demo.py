#!/usr/bin/env python3
"""The demo: a 15-second Skype call with echo123, played by the stand-in with a spoken
sentence on each side, recorded by the program under Wine. Prints what a user would
look at afterwards: the MP3, its decoded duration and channel levels, the history
record, and a screenshot of the main window taken while it recorded."""
import argparse
import os
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import audiocheck  # noqa: E402
import harness  # noqa: E402

MIC_TEXT = ("Hello, this is the caller speaking on my own microphone. "
            "I am testing the Tovik Skype Recorder, and this sentence should come out on the left.")
SPK_TEXT = ("Hi there, this is the remote side of the call. "
            "My voice arrives from Skype and belongs on the right channel of the recording.")


def speak(text, voice, path, work):
    raw = os.path.join(work, os.path.basename(path) + ".raw.wav")
    subprocess.run(["espeak-ng", "-v", voice, "-s", "150", "-w", raw, text], check=True)
    subprocess.run(["sox", "-v", "0.8", raw, "-r", "16000", "-c", "1", "-b", "16", path], check=True)
    return path


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    work = os.path.abspath(args.work)
    shutil.rmtree(os.path.join(work, "call"), ignore_errors=True)
    os.makedirs(os.path.join(work, "call"), exist_ok=True)
    base = harness.make_base_prefix(os.path.join(work, "base-prefix"))

    mic_wav = speak(MIC_TEXT, "en-us", os.path.join(work, "call", "mic.wav"), work)
    spk_wav = speak(SPK_TEXT, "en-gb+f3", os.path.join(work, "call", "spk.wav"), work)

    pulse = harness.Pulse(os.path.join(work, "pulse"))
    w = harness.Wine(os.path.abspath(args.bin), base, name="demo")
    pulse.apply(w.env)
    try:
        w.reg("add", r"HKCU\Software\Velmora\config", "/v", "capf", "/t", "REG_DWORD", "/d", "0", "/f")
        sim = harness.Sim(w, """
answer GET CURRENTUSERHANDLE = CURRENTUSERHANDLE tovik.demo
answer GET SKYPEVERSION = SKYPEVERSION 7.0.0.102
answer "get call 1234 type" = "CALL 1234 TYPE INCOMING_P2P"
answer "get call 1234 partner_handle" = "CALL 1234 PARTNER_HANDLE echo123"
answer "get call 1234 target_identity" = "CALL 1234 TARGET_IDENTITY echo123"
audio mic wav "%s"
audio spk wav "%s"
wait-discover 30000
wait-command "search friends" 10000
send "CALL 1234 STATUS RINGING"
wait-command "get call 1234 partner_handle" 5000
sleep 1000
send "CALL 1234 STATUS INPROGRESS"
wait-connected mic 5000
wait-connected spk 5000
sleep 15000
send "CALL 1234 STATUS FINISHED"
sleep 1000
exit
""" % (harness.winpath(mic_wav), harness.winpath(spk_wav)))
        sim.wait_ready()
        t0 = time.time()
        proc = w.start("TovikSkypeRecorder.exe")
        w.wait_text(1009, "Ready for recording ...", timeout_ms=60000)
        print("program ready after %.1f s" % (time.time() - t0))
        w.wait_text(1009, "Recording in progress ...", timeout_ms=60000)
        time.sleep(3)
        shot = w.screenshot(os.path.join(work, "main-window-recording.png"))

        store = os.path.join(w.appdata(), "Tovik", "record.xml")

        def count():
            try:
                return len(ET.parse(store).getroot().find("list"))
            except (OSError, ET.ParseError, TypeError):
                return 0

        delay = harness.watch_finish_to_record(sim, count)
        sim.finish(timeout=60)
        rec = ET.parse(store).getroot().find("list")[0]
        folder = os.path.join(w.documents(), "Tovik Skype Recorder")
        mp3s = sorted(f for f in os.listdir(folder) if f.endswith(".mp3"))
        mp3 = os.path.join(work, "call", mp3s[-1])
        shutil.copy(os.path.join(folder, mp3s[-1]), mp3)
        shutil.copy(store, os.path.join(work, "call", "record.xml"))
        d = audiocheck.decode(mp3)

        print()
        print("recording:    %s" % mp3)
        print("decoded:      %.2f s, %d Hz, %d channels" % (d.duration, d.rate, d.channels))
        for ch, label in enumerate(("left  (my microphone)", "right (echo123)")[:d.channels]):
            print("level %s: %.1f dBFS" % (label, d.rms_db(ch)))
        print("history record in record.xml:")
        for child in rec:
            print("    %-9s %s" % (child.tag, child.text or ""))
        print("from the stand-in's FINISHED to record.xml holding the record: %.2f s" % delay)
        print("screenshot while recording: %s" % shot)
        w.exit_program(proc)
    finally:
        w.close()
        pulse.stop()


if __name__ == "__main__":
    main()
