"""Start-up and shutdown of the program on a fresh prefix."""
import os
import re

from harness import TITLE, HarnessError, wait_for

PROGRAM = "TovikSkypeRecorder.exe"
CONFIG = r"HKCU\Software\Velmora\config"
STATUS = 1009

EXPECTED_TYPES = {
    "autostart": "REG_BINARY", "notifycov": "REG_BINARY", "notifyfinish": "REG_BINARY",
    "notifyhistory": "REG_BINARY", "position": "REG_SZ", "hispos": "REG_SZ", "starthide": "REG_BINARY",
    "topmost": "REG_BINARY", "sticksky": "REG_BINARY", "rectype": "REG_BINARY", "recside": "REG_DWORD",
    "sfolder": "REG_SZ", "amode": "REG_DWORD", "abitrate": "REG_DWORD", "asample": "REG_DWORD",
    "capf": "REG_DWORD", "chatreply": "REG_BINARY", "onlinereply": "REG_BINARY",
    "notonlinereply": "REG_BINARY", "replytxt": "REG_SZ", "defmic": "REG_SZ", "defspk": "REG_SZ",
    "defmicID": "REG_SZ", "defspkID": "REG_SZ",
}


def start_ready(w):
    proc = w.start(PROGRAM)
    w.wait_text(STATUS, "Ready for recording ...", timeout_ms=60000)
    return proc



def test_first_start_makes_the_settings_and_folders(w):
    proc = start_ready(w)
    values = w.reg_query(CONFIG)
    assert values is not None, "no settings key"
    assert {k: v[0] for k, v in values.items()} == EXPECTED_TYPES, values
    assert values["replytxt"][1] == "/me is not available for chat."
    assert values["capf"][1] == "0x1"  # Wine reports Windows 10
    assert values["sfolder"][1].endswith(r"\Documents\Tovik Skype Recorder"), values["sfolder"]
    assert os.path.isdir(os.path.join(w.documents(), "Tovik Skype Recorder"))
    assert os.path.isdir(os.path.join(w.appdata(), "Tovik"))

    shot = w.screenshot(os.path.join(os.environ.get("TOVIK_TEST_OUT", w.root), "main-window-ready.png"))
    assert os.path.getsize(shot) > 0
    assert w.text(1014) == "Ready"

    w.exit_program(proc)
    hispos = w.reg_query(CONFIG)["hispos"][1]
    assert re.fullmatch(r"-?\d+,-?\d+,-?\d+,-?\d+", hispos), hispos
    left, top, right, bottom = map(int, hispos.split(","))
    assert right > left and bottom > top


def test_second_copy_ends_at_once_and_leaves_the_first(w):
    first = start_ready(w)
    second = w.run(PROGRAM, timeout=30)
    assert second.returncode == 0
    assert w.wintool("count", TITLE).stdout.strip() == b"1"
    assert first.poll() is None
    assert w.text(STATUS) == "Ready for recording ..."
    w.exit_program(first)


def test_saved_position_is_restored_and_damaged_values_repaired(w):
    # A value of the wrong kind and an over-long text, put there before the first start.
    w.reg("add", CONFIG, "/v", "autostart", "/t", "REG_DWORD", "/d", "0", "/f")
    w.reg("add", CONFIG, "/v", "sfolder", "/t", "REG_SZ", "/d", "x" * 300, "/f")
    w.reg("add", CONFIG, "/v", "hispos", "/t", "REG_SZ", "/d", "40,50,100,100", "/f")
    proc = start_ready(w)
    values = w.reg_query(CONFIG)
    assert values["autostart"] == ("REG_BINARY", "01"), values["autostart"]
    assert values["sfolder"][1].endswith(r"\Tovik Skype Recorder"), values["sfolder"]
    rect = w.wintool("rect", TITLE).stdout.decode().strip()
    assert rect.startswith("40,50,"), rect
    w.exit_program(proc)
