#!/usr/bin/env python3
"""The cost of a member call from Python against the same call from C++.

    python3 bench/python_property_get.py [build-dir]

Reads the trivial property TempFilePath of a CreatePDF in a loop (and, for
comparison, calls a method without arguments and one through pressmark.call),
then runs bench_property_get (the same read from C++) when it is built. The
target for the Python read is under 2 microseconds.
"""
import os
import pathlib
import subprocess
import sys
import timeit

build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[1] / "build")
sys.path.insert(0, str(build / "python"))
import pressmark  # noqa: E402

pdf = pressmark.CreatePDF()
cases = {
    "pdf.TempFilePath": lambda: pdf.TempFilePath,
    "pdf.AcrobatVersion()": lambda: pdf.AcrobatVersion(),
    'pressmark.get(pdf, "TempFilePath")': lambda: pressmark.get(pdf, "TempFilePath"),
    "(an empty Python lambda)": lambda: None,
}
for name, fn in cases.items():
    n = 200_000
    best = min(timeit.repeat(fn, number=n, repeat=5)) / n
    print(f"{name:40s} {best * 1e9:8.0f} ns per call")

cpp = build / "bench" / "bench_property_get"
if cpp.exists():
    out = subprocess.run([str(cpp), "--benchmark_repetitions=1"], capture_output=True, text=True).stdout
    print("C++ (bench_property_get):")
    print("\n".join(line for line in out.splitlines() if "TempFilePath" in line))
else:
    print(f"({cpp} is not built: configure with -DPRESSMARK_BENCH=ON and build bench_property_get)")
