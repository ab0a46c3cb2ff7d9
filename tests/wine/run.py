#!/usr/bin/env python3
"""Runs the Wine integration tests (tests/wine/test_*.py) and, optionally, the Windows
unit-test executable under Wine. Prints one line per test and writes the counts to
--counts as "passed failed"."""
import argparse
import importlib.util
import inspect
import os
import re
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


def load_tests(folder, pattern):
    tests = []
    for name in sorted(os.listdir(folder)):
        if not (name.startswith("test_") and name.endswith(".py")):
            continue
        found = importlib.util.spec_from_file_location(name[:-3], os.path.join(folder, name))
        mod = importlib.util.module_from_spec(found)
        found.loader.exec_module(mod)
        for fname, fn in inspect.getmembers(mod, inspect.isfunction):
            if fname.startswith("test_") and fn.__module__ == mod.__name__:
                full = "%s.%s" % (name[:-3], fname)
                if not pattern or re.search(pattern, full):
                    tests.append((full, fn, inspect.getsourcelines(fn)[1]))
    tests.sort(key=lambda t: (t[0].split(".")[0], t[2]))
    return [(n, f) for n, f, _ in tests]


def run_unit_exe(exe, base, out_dir):
    """The GoogleTest executable, in a prefix of its own."""
    w = harness.Wine(os.path.dirname(exe), base, name="unit")
    try:
        r = w.run(os.path.basename(exe), "--gtest_color=no", timeout=900)
        text = r.stdout.decode("utf-8", errors="replace") + r.stderr.decode("utf-8", errors="replace")
        with open(os.path.join(out_dir, "unit_tests_wine.log"), "w") as f:
            f.write(text)
        passed = re.search(r"\[  PASSED  \] (\d+) test", text)
        failed = re.search(r"\[  FAILED  \] (\d+) test", text)
        p = int(passed.group(1)) if passed else 0
        fl = int(failed.group(1)) if failed else 0
        if r.returncode != 0 and fl == 0:
            fl = 1  # a crash or an abort before the summary
        for line in text.splitlines():
            if line.startswith("[  FAILED  ]") and "listed below" not in line:
                print("FAIL wine-unit " + line[13:].strip())
        print("wine unit tests: %d passed, %d failed" % (p, fl))
        return p, fl
    finally:
        w.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True, help="folder with the Windows programs")
    ap.add_argument("--work", required=True, help="folder for the base prefix and test output")
    ap.add_argument("--unit", help="also run this GoogleTest .exe under Wine")
    ap.add_argument("-k", dest="pattern", help="only tests whose name matches")
    ap.add_argument("--counts", help="write 'passed failed' here")
    ap.add_argument("--keep", action="store_true", help="keep each test's prefix")
    args = ap.parse_args()

    args.work = os.path.abspath(args.work)
    args.bin = os.path.abspath(args.bin)
    if args.unit:
        args.unit = os.path.abspath(args.unit)
    os.makedirs(args.work, exist_ok=True)
    out_dir = os.path.join(args.work, "out")
    os.makedirs(out_dir, exist_ok=True)
    os.environ["TOVIK_TEST_OUT"] = out_dir
    t0 = time.time()
    try:
        base = harness.make_base_prefix(os.path.join(args.work, "base-prefix"))
    except harness.HarnessError as e:
        print("FAIL wine setup: %s" % e)
        if args.counts:
            open(args.counts, "w").write("0 1\n")
        return 1
    print("wine base prefix ready in %.1f s" % (time.time() - t0))

    passed = failed = 0
    if args.unit:
        p, f = run_unit_exe(args.unit, base, out_dir)
        passed += p
        failed += f

    here = os.path.dirname(os.path.abspath(__file__))
    for name, fn in load_tests(here, args.pattern):
        start = time.time()
        w = None
        try:
            params = inspect.signature(fn).parameters
            if "w" in params:
                w = harness.Wine(args.bin, base, name=name.split(".")[-1][5:30])
                fn(w)
            else:
                fn(args.bin, base)
            print("PASS %s (%.1f s)" % (name, time.time() - start))
            passed += 1
        except Exception as e:  # every failure, the harness's own included, fails the test
            print("FAIL %s (%.1f s): %s" % (name, time.time() - start, e))
            traceback.print_exc(limit=3, file=sys.stdout)
            failed += 1
        finally:
            if w:
                w.close(keep=args.keep)
        sys.stdout.flush()
    print("wine tests in all: %d passed, %d failed" % (passed, failed))
    if args.counts:
        open(args.counts, "w").write("%d %d\n" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
