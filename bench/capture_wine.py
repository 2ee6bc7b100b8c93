#!/usr/bin/env python3
"""One capture of Wine's default classes beside what it replaces: one
Model.exe 'Class;*' run per class. Both under one running wineserver in the
Windows build's test prefix, interleaved over rounds; prints the median time
of each and the ratio capture / runs (below 1: the capture is faster).
Usage: capture_wine.py MINGW_BUILD_DIR [ROUNDS]"""
import os
import statistics
import subprocess
import sys
import time

def main():
    build = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'scripts',
                          'wine-prefix.sh')
    wine_dir = os.path.join(build, 'wine')

    def wine(*args, check=True):
        return subprocess.run([script, 'run', wine_dir, *args], check=check,
                              stdin=subprocess.DEVNULL, capture_output=True).stdout

    def timed(action):
        started = time.perf_counter()
        action()
        return time.perf_counter() - started

    def capture():
        # Exit code 1 where Wine lacks a default class (Win32_Battery); the
        # others are captured all the same.
        wine(os.path.join(build, 'ModelCapture.exe'), '-o', 'C:\\windows\\bench.mof',
             check=False)

    def per_class():
        for name in classes:
            wine(os.path.join(build, 'Model.exe'), name + ';*')

    subprocess.run([script, 'start', wine_dir], check=True, capture_output=True)
    try:
        classes = wine(os.path.join(build, 'ModelCapture.exe'),
                       '--list-defaults').decode().split()
        capture(), per_class()  # warm the prefix's caches
        captures, runs = [], []
        for _ in range(rounds):
            captures.append(timed(capture))
            runs.append(timed(per_class))
    finally:
        subprocess.run([script, 'stop', wine_dir], check=False, capture_output=True)

    capture_s, runs_s = statistics.median(captures), statistics.median(runs)
    print(f'capture of the {len(classes)} default classes: {capture_s * 1000:.0f} ms')
    print(f'one Model.exe run per class ({len(classes)} runs): {runs_s * 1000:.0f} ms')
    print(f'ratio capture / runs: {capture_s / runs_s:.2f}x (target: below 1)')


if __name__ == '__main__':
    main()
