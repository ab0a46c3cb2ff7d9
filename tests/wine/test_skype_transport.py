"""The program attaching to the Skype stand-in over real window messages."""
import os
import time

from harness import TITLE, HarnessError, Sim, wait_for

PROGRAM = "TovikSkypeRecorder.exe"
STATUS = 1009

STARTUP_ORDER = [
    "GET AUDIO_IN", "GET AUDIO_OUT", "get skypeversion", "get currentuserhandle",
    "get connstatus", "get userstatus", "search friends",
]



def test_attach_sends_the_startup_queries_in_order_then_polls_calls(w):
    sim = Sim(w, """
answer GET CURRENTUSERHANDLE = CURRENTUSERHANDLE алиса
answer GET SKYPEVERSION = SKYPEVERSION 7.0.0.102
answer GET CONNSTATUS = CONNSTATUS ONLINE
answer GET USERSTATUS = USERSTATUS ONLINE
answer "search friends" = "USERS bob, Иван, 山田太郎"
wait-discover 30000
wait-command "GET AUDIO_IN" 10000
wait-command "GET AUDIO_OUT" 5000
wait-command "get skypeversion" 5000
wait-command "get currentuserhandle" 5000
wait-command "get connstatus" 5000
wait-command "get userstatus" 5000
wait-command "search friends" 5000
# Non-ASCII handles come back in the full-name queries, so they crossed both ways.
wait-command "get user Иван fullname" 5000
wait-command "get user 山田太郎 fullname" 5000
mark
sleep 3500
expect-count "SEARCH ACTIVECALLS " 2 5
exit
""")
    sim.wait_ready()
    proc = w.start(PROGRAM)
    log = sim.finish(timeout=90)
    cmds = sim.commands()
    first = [c for c in cmds if c in STARTUP_ORDER]
    assert first[:len(STARTUP_ORDER)] == STARTUP_ORDER, cmds[:12]
    assert w.text(STATUS) == "Ready for recording ..."
    w.exit_program(proc)


def test_skype_started_after_the_program_is_found_by_its_announcement(w):
    proc = w.start(PROGRAM)
    w.wait_text(STATUS, "Ready for recording ...", timeout_ms=60000)
    time.sleep(1)
    sim = Sim(w, """
announce
wait-discover 15000
wait-command "GET AUDIO_IN" 10000
wait-command "search friends" 10000
exit
""")
    sim.finish(timeout=60)
    w.exit_program(proc)


def test_refused_attach_shows_the_message(w):
    sim = Sim(w, """
attach 2
wait-discover 30000
sleep 4000
expect-no-command "GET AUDIO_IN"
exit
""")
    sim.wait_ready()
    proc = w.start(PROGRAM)
    w.wait_window(TITLE, timeout_ms=30000)  # the main window, then its message box
    box = wait_for(lambda: w.wintool("count", "Tovik Skype Recorder").stdout.strip() not in (b"0", b"1"), 30)
    shot = w.screenshot(os.path.join(os.environ.get("TOVIK_TEST_OUT", w.root), "skype-refused.png"))
    sim.finish(timeout=60)
    assert box, "no message box titled Tovik Skype Recorder appeared"
    assert os.path.getsize(shot) > 0
    # The box carries the text; its static control is 0xFFFF in Wine's and Windows' boxes.
    texts = w.wintool("list", TITLE).stdout.decode("utf-8", errors="replace")
    assert "Your skype refused me to access it." in texts, texts
    assert "/issue.htm) to resolve the issue!" in texts, texts
    proc.kill()


def test_payloads_from_foreign_windows_and_bad_payloads_change_nothing(w):
    sim = Sim(w, """
answer GET CURRENTUSERHANDLE = CURRENTUSERHANDLE alice
wait-discover 30000
wait-command "search friends" 10000
send-foreign "CALL 55 STATUS INPROGRESS"
send-hex
send-hex FF FE 00 41
send-hex C3 28 A0 A1
send-repeat 1048576 x
send "   "
mark
sleep 2500
expect-no-command "get call 55 *"
expect-no-command "alter call 55 *"
expect-count "SEARCH ACTIVECALLS " 1 4
exit
""")
    sim.wait_ready()
    proc = w.start(PROGRAM)
    sim.finish(timeout=90)
    assert proc.poll() is None, "the program ended"
    assert w.text(STATUS) == "Ready for recording ..."
    w.exit_program(proc)


def test_exit_ends_while_skype_hangs_inside_a_delivery(w):
    sim = Sim(w, """
answer GET CURRENTUSERHANDLE = CURRENTUSERHANDLE alice
wait-discover 30000
wait-command "search friends" 10000
hang 60000
sleep 30000
exit
""")
    sim.wait_ready()
    proc = w.start(PROGRAM)
    w.wait_text(STATUS, "Ready for recording ...", timeout_ms=60000)
    wait_for(lambda: " HANG " in sim.log(), 20)
    assert " HANG " in sim.log(), sim.log()[-1500:]
    t0 = time.time()
    w.wintool("command", TITLE, "32772")
    w.wait_exit(proc, timeout=30)
    print("  exit took %.1f s with Skype hung in a delivery" % (time.time() - t0))
    assert w.reg_query(r"HKCU\Software\Velmora\config")["hispos"][1]
