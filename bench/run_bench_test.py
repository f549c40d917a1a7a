#!/usr/bin/python3
"""Tests of the benchmark's own logic: the verdicts of the table, the reading of
the instrumented build's events, the import table of an exe and the /proc
readings. No Wine needed:  /usr/bin/python3 bench/run_bench_test.py"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_bench as bench  # noqa: E402


def write_pe(path, dlls, size=0x400):
    """A 32-bit PE file of `size` bytes whose import table names `dlls`, in one section."""
    data = bytearray(max(size, 0x400))
    data[0:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, 0x40)
    data[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HH12xHH", data, 0x44, 0x14C, 1, 224, 0x102)
    optional = 0x58
    struct.pack_into("<H", data, optional, 0x10B)
    struct.pack_into("<II", data, optional + 96 + 8, 0x1000, 20 * (len(dlls) + 1))
    section = optional + 224
    data[section:section + 8] = b".idata\0\0"
    struct.pack_into("<IIII", data, section + 8, 0x200, 0x1000, 0x200, 0x200)
    name_rva = 0x1000 + 20 * (len(dlls) + 1)
    for i, dll in enumerate(dlls):
        struct.pack_into("<I", data, 0x200 + 20 * i + 12, name_rva)
        at = name_rva - 0x1000 + 0x200
        data[at:at + len(dll) + 1] = dll.encode() + b"\0"
        name_rva += len(dll) + 1
    with open(path, "wb") as f:
        f.write(data)


class ExeTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def test_import_names_are_read_in_order(self):
        path = os.path.join(self.dir, "a.exe")
        write_pe(path, ["KERNEL32.dll", "USER32.dll", "libstdc++-6.dll"])
        self.assertEqual(bench.pe_imports(path), ["KERNEL32.dll", "USER32.dll", "libstdc++-6.dll"])

    def test_a_file_without_the_pe_signature_is_refused(self):
        path = os.path.join(self.dir, "b.exe")
        write_pe(path, ["KERNEL32.dll"])
        with open(path, "r+b") as f:
            f.seek(0x40)
            f.write(b"NE\0\0")
        with self.assertRaises(bench.BenchError):
            bench.pe_imports(path)


def samples_with(**figures):
    """Samples from figure=(keyboard values, floor values) or figure=keyboard values."""
    samples = bench.Samples()
    for figure, values in figures.items():
        kb, fl = values if isinstance(values, tuple) else (values, [])
        for v in kb:
            samples.add(figure, "keyboard", v)
        for v in fl:
            samples.add(figure, "floor", v)
    return samples


GOOD_SHIFT = dict(shift_most=[1, 1], shift_changed=[58, 58], shift_painted=[59, 59],
                  shift_idle_paints=[0, 0], shift_own=[2, 1], shift_handler=[20.0, 25.0])


class TableTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)
        self.exes = {"keyboard": os.path.join(self.dir, "vimbrel.exe"),
                     "floor": os.path.join(self.dir, "floor.exe")}
        write_pe(self.exes["keyboard"], ["KERNEL32.dll", "USER32.dll", "COMCTL32.DLL"], 90 * 1024)
        write_pe(self.exes["floor"], ["KERNEL32.dll", "USER32.dll"], 26 * 1024)

    def rows(self, samples):
        lines, notes = bench.table(samples, self.exes, 10)
        rows = {}
        for line in lines[2:]:
            title = line[:line.index("  ")]
            rows[title] = line.split()[-1]
        return rows, notes

    def test_ratio_goals_compare_medians_at_their_limits(self):
        cases = [  # start-up (keyboard, floor) ms, memory (keyboard, floor) KiB -> verdicts
            (([120, 120, 500], [100, 100, 100]), ([110, 110], [100, 100]), "PASS", "PASS"),
            (([121, 121, 50], [100, 100, 100]), ([111, 111], [100, 100]), "FAIL", "FAIL"),
        ]
        for startup, rss, startup_verdict, rss_verdict in cases:
            with self.subTest(startup=startup, rss=rss):
                rows, _ = self.rows(samples_with(startup=startup, rss=rss, idle=([0], [0]),
                                                 latency=([1.0], [1.0]), **GOOD_SHIFT))
                self.assertEqual(rows["start-up to first complete paint (ms)"], startup_verdict)
                self.assertEqual(rows["resident memory after start-up (KiB)"], rss_verdict)

    def test_idle_cpu_counts_every_tick_not_the_median(self):
        for kb, fl, verdict in (([0, 0, 1], [0, 0, 0], "FAIL"), ([0, 0, 0], [0, 0, 0], "PASS"),
                                ([1, 0, 2], [3, 0, 0], "PASS")):
            with self.subTest(kb=kb, fl=fl):
                rows, _ = self.rows(samples_with(idle=(kb, fl), **GOOD_SHIFT))
                self.assertEqual(rows["idle CPU over 10 s (ticks)"], verdict)

    def test_a_figure_without_samples_is_not_available_and_says_why(self):
        samples = samples_with(startup=([100], [100]), **GOOD_SHIFT)
        samples.not_available("latency", "no key event reached the hook")
        rows, notes = self.rows(samples)
        self.assertEqual(rows["click to key event at the target (ms)"], "n/a")
        self.assertEqual(rows["resident memory after start-up (KiB)"], "n/a")
        self.assertIn("click to key event at the target (ms): n/a: no key event reached the hook", notes)

    def test_shift_goals(self):
        cases = [
            ({}, "PASS", "PASS"),
            ({"shift_most": [1, 2]}, "FAIL", "PASS"),
            ({"shift_changed": [58, 47]}, "PASS", "FAIL"),
        ]
        for change, most, captions in cases:
            with self.subTest(change=change):
                rows, _ = self.rows(samples_with(**dict(GOOD_SHIFT, **change)))
                self.assertEqual(rows["Shift click: most repaints of another key"], most)
                self.assertEqual(rows["Shift click: captions changed"], captions)

    def test_shift_rows_are_not_available_without_the_measuring_hooks(self):
        samples = bench.Samples()
        samples.not_available("shift", "the measuring hooks are not in the sources")
        rows, notes = self.rows(samples)
        shift_rows = {t: v for t, v in rows.items() if t.startswith("Shift click")}
        self.assertEqual(len(shift_rows), 6)
        self.assertEqual(set(shift_rows.values()), {"n/a"})
        self.assertTrue(any("not in the sources" in n for n in notes))

    def test_exe_size_and_imports(self):
        rows, _ = self.rows(samples_with(**GOOD_SHIFT))
        self.assertEqual(rows["exe size (KiB)"], "PASS")
        self.assertEqual(rows["exe imports only system DLLs"], "PASS")
        write_pe(self.exes["keyboard"], ["KERNEL32.dll", "libgcc_s_dw2-1.dll"], 129 * 1024)
        rows, notes = self.rows(samples_with(**GOOD_SHIFT))
        self.assertEqual(rows["exe size (KiB)"], "FAIL")
        self.assertEqual(rows["exe imports only system DLLs"], "FAIL")
        self.assertIn("not system DLLs: libgcc_s_dw2-1.dll", notes)


class NativeTest(unittest.TestCase):
    def test_first_complete_draw_is_where_the_final_picture_stays(self):
        # Final picture B shown at 30 ms, drawn over, and shown again from 50 ms on.
        readings = [(10.0, 0), (20.0, 0xA), (30.0, 0xB), (40.0, 0xA), (50.0, 0xB), (60.0, 0xB)]
        self.assertEqual(bench.first_complete_draw(readings), 50.0)
        self.assertEqual(bench.first_complete_draw(readings[:1] + readings[4:]), 50.0)
        self.assertIsNone(bench.first_complete_draw(readings + [(70.0, 0)]))  # last one unreadable

    def test_native_table_holds_each_figure_to_its_floor(self):
        samples = samples_with(startup=([120], [100]), rss=([111], [100]), idle=([0, 1], [0, 0]))
        samples.not_available("latency", "no KeyPress of q reached the target within 2 s")
        lines, notes = bench.native_table(samples, 10)
        verdicts = {line[:line.index("  ")]: line.split()[-1] for line in lines[2:]}
        self.assertEqual(verdicts, {"start-up to first complete draw (ms)": "PASS",
                                    "resident memory after start-up (KiB)": "FAIL",
                                    "idle CPU over 10 s (ticks)": "FAIL",
                                    "click to KeyPress at the X target (ms)": "n/a"})
        self.assertIn("click to KeyPress at the X target (ms): n/a: no KeyPress of q reached the target within 2 s",
                      notes)


def paint(control_id, qpc):
    return {"name": "paint", "id": "0x%04x" % control_id, "qpc": str(qpc)}


def command(control_id, code, begin, end):
    return {"name": "command", "id": "0x%04x" % control_id, "code": str(code), "begin": str(begin),
            "end": str(end)}


class ShiftFiguresTest(unittest.TestCase):
    SHIFT = bench.LEFT_SHIFT_ID
    A, B, LIGHT = 0x1041, 0x1042, 0x2000

    def test_counts_only_what_falls_between_the_clicks(self):
        before = {self.A: "A", self.B: "B", self.SHIFT: "S", self.LIGHT: "x"}
        after = {self.A: "a", self.B: "B", self.SHIFT: "S", self.LIGHT: "y"}
        events = [
            paint(self.A, 90),                            # before the click
            command(self.SHIFT, bench.BN_CLICKED, 100, 150),
            paint(self.SHIFT, 101), paint(self.SHIFT, 160), paint(self.SHIFT, 170),
            paint(self.A, 120), paint(self.A, 130),       # twice: the fault the figure is for
            paint(self.B, 140),                           # caption unchanged
            paint(self.B, 200),                           # after the next click
        ]
        figures = bench.shift_figures(before, after, events, 100, 200, 10000)
        self.assertEqual(figures, {"shift_changed": 1,   # the light is not a key
                                   "shift_most": 2, "shift_own": 3, "shift_painted": 3,
                                   "shift_idle_paints": 1, "shift_handler": 5.0})

    def test_handler_time_needs_a_click_of_the_shift_key_itself(self):
        events = [command(self.SHIFT, 6, 100, 101),          # BN_SETFOCUS
                  command(0x17A1, bench.BN_CLICKED, 100, 140)]  # the right Shift
        self.assertIsNone(bench.shift_figures({}, {}, events, 0, None, 10000)["shift_handler"])
        events.append(command(self.SHIFT, bench.BN_DBLCLK, 300, 330))
        self.assertEqual(bench.shift_figures({}, {}, events, 0, None, 10000)["shift_handler"], 3.0)


class ProcTest(unittest.TestCase):
    def spawn(self, argv0, prefix):
        proc = subprocess.Popen([argv0, "30"], executable="/bin/sleep", env={"WINEPREFIX": prefix})
        self.addCleanup(proc.wait)
        self.addCleanup(proc.kill)
        return proc.pid

    def test_finds_the_wine_process_of_an_exe_in_our_prefix_only(self):
        pid = self.spawn("Z:\\tmp\\build\\Floor.exe", "/tmp/bench-test-prefix-a")
        self.spawn("Z:\\tmp\\build\\floor.exe", "/tmp/bench-test-prefix-b")
        time.sleep(0.1)
        self.assertEqual(bench.unix_process("/tmp/bench-test-prefix-a", "/work/build/floor.exe"), pid)
        self.assertIsNone(bench.unix_process("/tmp/bench-test-prefix-c", "/work/build/floor.exe"))
        self.assertIsNone(bench.unix_process("/tmp/bench-test-prefix-a", "/work/build/vimbrel.exe"))

    def test_cpu_ticks_survive_a_process_name_with_parentheses(self):
        odd = os.path.join(tempfile.mkdtemp(), "a) (b")
        self.addCleanup(shutil.rmtree, os.path.dirname(odd))
        shutil.copy("/bin/sleep", odd)
        proc = subprocess.Popen([odd, "30"])
        self.addCleanup(proc.wait)
        self.addCleanup(proc.kill)
        time.sleep(0.1)
        self.assertEqual(bench.cpu_ticks(proc.pid), 0)
        self.assertGreater(bench.rss_kib(proc.pid), 0)

    def test_cpu_ticks_grow_with_work(self):
        before = bench.cpu_ticks(os.getpid())
        end = time.process_time() + 0.3
        while time.process_time() < end:
            pass
        self.assertGreaterEqual(bench.cpu_ticks(os.getpid()) - before, 0.2 * bench.TICKS_PER_SECOND)


if __name__ == "__main__":
    unittest.main()
