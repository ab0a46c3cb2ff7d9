#!/usr/bin/env python3
"""Starts the program under Wine, waits for it to be ready and takes a screenshot."""
import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    base = harness.make_base_prefix(os.path.join(work, "base-prefix"))
    w = harness.Wine(os.path.abspath(args.bin), base, name="demo")
    try:
        t0 = time.time()
        proc = w.start("TovikSkypeRecorder.exe")
        w.wait_text(1009, "Ready for recording ...", timeout_ms=60000)
        print("program ready after %.1f s: status line says %r" % (time.time() - t0, w.text(1009)))
        shot = w.screenshot(os.path.join(work, "main-window.png"))
        print("screenshot of the main window: %s" % shot)
        w.wintool("command", harness.TITLE, "32772")
        w.wait_exit(proc, 30)
        values = w.reg_query(r"HKCU\Software\Velmora\config") or {}
        print("settings written: %d values under HKCU\\Software\\Velmora\\config" % len(values))
    finally:
        w.close()


if __name__ == "__main__":
    main()
