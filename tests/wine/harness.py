"""Runs the Windows build under Wine for the integration tests.

Each test gets its own Xvfb display, its own WINEPREFIX (a copy of one base prefix made
once per run), and its own HOME, because Wine links the Windows user folders to $HOME.
Only the processes started here are stopped, by their id (and the prefix's own
wineserver, which exists only for this test).
"""
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time

TITLE = "Tovik Skype Recorder"


class HarnessError(Exception):
    pass


def stop_process(proc):
    """Ends a process this harness started: politely first."""
    if proc and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def _env_base():
    env = dict(os.environ)
    env["WINEDEBUG"] = env.get("TOVIK_WINEDEBUG", "-all")
    # No Mono or Gecko install prompts.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env.pop("WINEARCH", None)
    return env


class Display:
    """An Xvfb server on a free display number."""

    def __init__(self, size="1024x768x24"):
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", size, "-nolisten", "tcp", "-noreset"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        number = b""
        deadline = time.time() + 15
        while time.time() < deadline:
            ready, _, _ = select.select([r], [], [], 0.5)
            if ready:
                chunk = os.read(r, 64)
                if not chunk:
                    break
                number += chunk
                if number.endswith(b"\n"):
                    break
            if self.proc.poll() is not None:
                break
        os.close(r)
        if not number.strip():
            self.stop()
            raise HarnessError("Xvfb did not start (is the xvfb package installed?)")
        self.name = ":" + number.decode().strip()

    def stop(self):
        stop_process(self.proc)
        self.proc = None


def make_base_prefix(path, timeout=180):
    """Creates the prefix that every test copies, once per run."""
    if os.path.exists(os.path.join(path, ".ready")):
        return path
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    home = tempfile.mkdtemp(prefix="tovik-basehome-")
    env = _env_base()
    env.update(WINEPREFIX=path, HOME=home, DISPLAY="")
    try:
        subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout, check=False)
        subprocess.run(["wineserver", "-w"], env=env, timeout=timeout, check=False)
    except subprocess.TimeoutExpired:
        subprocess.run(["wineserver", "-k"], env=env, check=False)
        raise HarnessError("wineboot did not finish within %d s" % timeout)
    finally:
        shutil.rmtree(home, ignore_errors=True)
    if not os.path.exists(os.path.join(path, "system.reg")):
        raise HarnessError("wineboot made no prefix (is wine installed?)")
    open(os.path.join(path, ".ready"), "w").close()
    return path


class Wine:
    def __init__(self, bin_dir, base_prefix, name="test"):
        self.bin_dir = bin_dir
        self.root = tempfile.mkdtemp(prefix="tovik-wine-%s-" % name)
        self.prefix = os.path.join(self.root, "prefix")
        self.home = os.path.join(self.root, "home")
        os.makedirs(self.home)
        subprocess.run(["cp", "-a", base_prefix, self.prefix], check=True)
        self.user = self._relink_user_folders()
        self.display = Display()
        self.env = _env_base()
        self.env.update(WINEPREFIX=self.prefix, HOME=self.home, DISPLAY=self.display.name)
        self.procs = []

    def _relink_user_folders(self):
        users = os.path.join(self.prefix, "drive_c", "users")
        user = None
        for name in os.listdir(users):
            d = os.path.join(users, name)
            if name == "Public" or not os.path.isdir(d):
                continue
            user = name
            for entry in os.listdir(d):
                p = os.path.join(d, entry)
                if os.path.islink(p):
                    os.unlink(p)
                    os.symlink(self.home, p)
        return user

    # Paths as Linux sees them.
    def appdata(self):
        return os.path.join(self.prefix, "drive_c", "users", self.user, "AppData", "Roaming")

    def documents(self):
        return self.home

    def exe(self, name):
        return os.path.join(self.bin_dir, name)

    def start(self, exe, *args, log=None):
        out = open(log, "wb") if log else subprocess.DEVNULL
        p = subprocess.Popen(["wine", self.exe(exe)] + list(args), env=self.env,
                             stdout=out, stderr=subprocess.STDOUT if log else subprocess.DEVNULL,
                             cwd=self.root)
        self.procs.append(p)
        return p

    def run(self, exe, *args, timeout=60):
        return self._run(["wine", self.exe(exe)] + list(args), timeout)

    def _run(self, argv, timeout):
        # Output goes through files, not pipes: Wine's own background processes (the
        # wineserver, services) inherit the handles and would keep a pipe open for ever.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            p = subprocess.Popen(argv, env=self.env, stdout=out, stderr=err, cwd=self.root)
            try:
                rc = p.wait(timeout)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                raise HarnessError("%s did not finish within %d s" % (" ".join(argv[1:3]), timeout))
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(argv, rc, out.read(), err.read())

    def wintool(self, *args, timeout=60):
        return self.run("wintool.exe", *args, timeout=timeout)

    def wait_window(self, title=TITLE, timeout_ms=30000):
        r = self.wintool("wait", title, str(timeout_ms), timeout=timeout_ms / 1000 + 30)
        if r.returncode != 0:
            raise HarnessError("no window titled %r within %d ms" % (title, timeout_ms))

    def wait_text(self, control, text, title=TITLE, timeout_ms=30000):
        r = self.wintool("wait-text", title, str(control), text, str(timeout_ms), timeout=timeout_ms / 1000 + 30)
        if r.returncode != 0:
            raise HarnessError("control %d of %r shows %r, not %r" % (
                control, title, r.stdout.decode(errors="replace").strip(), text))

    def text(self, control, title=TITLE):
        return self.wintool("text", title, str(control)).stdout.decode("utf-8", errors="replace").strip()

    def reg_query(self, key):
        """Returns {value name: (type, data text)} of one registry key, or None when it is missing."""
        r = self._run(["wine", "reg", "query", key], 60)
        if r.returncode != 0:
            return None
        values = {}
        for line in r.stdout.decode("utf-8", errors="replace").splitlines():
            if not line.startswith("    "):
                continue
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
        return values

    def reg(self, *args):
        return self._run(["wine", "reg"] + list(args), 60)

    def screenshot(self, path):
        xwd = subprocess.run(["xwd", "-root", "-silent", "-display", self.display.name],
                             capture_output=True, timeout=30)
        if xwd.returncode != 0:
            raise HarnessError("xwd failed: %s" % xwd.stderr.decode(errors="replace"))
        subprocess.run(["convert", "xwd:-", path], input=xwd.stdout, check=True, timeout=60)
        return path

    def exit_program(self, proc, timeout=30):
        """The tray menu's Exit command, then the process's end."""
        if self.wintool("command", TITLE, "32772").returncode != 0:
            raise HarnessError("could not reach the main window to exit")
        self.wait_exit(proc, timeout)

    def wait_exit(self, proc, timeout=30):
        try:
            return proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError("process did not end within %d s" % timeout)

    def close(self, keep=False):
        for p in self.procs:
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
        # The prefix's own wineserver ends the Windows processes of this test only.
        subprocess.run(["wineserver", "-k"], env=self.env, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        for p in self.procs:
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        self.display.stop()
        if not keep:
            shutil.rmtree(self.root, ignore_errors=True)


def wait_for(predicate, timeout, step=0.1):
    deadline = time.time() + timeout
    while time.time() < deadline:
        v = predicate()
        if v:
            return v
        time.sleep(step)
    return predicate()


def winpath(path):
    """A Linux path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Sim:
    """The Skype stand-in playing one scenario in a test's prefix."""

    def __init__(self, w, scenario, name="sim"):
        self.w = w
        self.scenario_path = os.path.join(w.root, name + ".txt")
        self.log_path = os.path.join(w.root, name + ".log")
        with open(self.scenario_path, "w", encoding="utf-8") as f:
            f.write(scenario)
        self.proc = w.start("skype-sim.exe", winpath(self.scenario_path), winpath(self.log_path),
                            log=os.path.join(w.root, name + ".out"))

    def log(self):
        try:
            with open(self.log_path, encoding="utf-8", errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def wait_ready(self, timeout=60):
        if not wait_for(lambda: "READY" in self.log(), timeout):
            raise HarnessError("the stand-in did not start:\n" + self.log())

    def finish(self, timeout=120):
        """Waits for the scenario's end; raises with the log unless every expectation held."""
        try:
            rc = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError("the stand-in's scenario did not end within %d s:\n%s" % (timeout, self.log()[-4000:]))
        if rc != 0:
            fails = [l for l in self.log().splitlines() if " FAIL " in l or " ERROR " in l]
            raise HarnessError("stand-in exit %d:\n%s\n--- log tail ---\n%s" % (
                rc, "\n".join(fails), self.log()[-3000:]))
        return self.log()

    def commands(self):
        """The commands the stand-in received, in order, without their time stamps."""
        out = []
        for line in self.log().splitlines():
            parts = line.split(" ", 2)
            if len(parts) == 3 and parts[1] == "CMD":
                out.append(parts[2])
        return out


class Pulse:
    """A private PulseAudio server with a null sink, for Wine's audio endpoints."""

    def __init__(self, runtime_dir):
        self.runtime_dir = runtime_dir
        os.makedirs(runtime_dir, exist_ok=True)
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime_dir, HOME=runtime_dir, PULSE_RUNTIME_PATH=os.path.join(runtime_dir, "pulse"))
        self.env = env
        self.proc = subprocess.Popen(
            ["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "-n",
             "--load=module-native-protocol-unix", "--load=module-null-sink sink_name=tovik_null",
             "--load=module-null-sink sink_name=tovik_mic", "--log-target=stderr"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        sock = os.path.join(runtime_dir, "pulse", "native")
        if not wait_for(lambda: os.path.exists(sock) or self.proc.poll() is not None, 15):
            self.stop()
            raise HarnessError("PulseAudio did not start")
        if self.proc.poll() is not None:
            raise HarnessError("PulseAudio ended at start (exit %s)" % self.proc.returncode)

    def apply(self, env):
        env["XDG_RUNTIME_DIR"] = self.runtime_dir
        env["PULSE_RUNTIME_PATH"] = self.env["PULSE_RUNTIME_PATH"]

    def stop(self):
        stop_process(self.proc)
        self.proc = None


def watch_finish_to_record(sim, record_count, timeout=60):
    """Seconds from the stand-in sending FINISHED to record_count() turning non-zero."""
    def finished_sent():
        return any(" SEND " in l and "STATUS FINISHED" in l for l in sim.log().splitlines())
    if not wait_for(finished_sent, timeout, 0.01):
        raise HarnessError("the stand-in never sent FINISHED")
    t0 = time.time()
    if not wait_for(lambda: record_count() > 0, timeout, 0.01):
        raise HarnessError("no history record after FINISHED")
    return time.time() - t0
