#!/usr/bin/env python3
"""Prints how the cost of each size-parameterised benchmark grows: for every
family "BM_Name/param:N" in a Google Benchmark JSON file (median of the
repetitions), the CPU time at each size and its ratio to the size ten times
smaller. Linear work gives about 10x; n log n a little more.
Usage: scaling.py results.json"""
import json
import re
import sys


def main():
    with open(sys.argv[1]) as f:
        data = json.load(f)
    families = {}
    for b in data['benchmarks']:
        if b.get('aggregate_name', 'median') != 'median':
            continue
        m = re.fullmatch(r'(\w+)/(\w+):(\d+)', b.get('run_name', b['name']))
        if not m:
            continue
        scale = {'ns': 1e-6, 'us': 1e-3, 'ms': 1.0, 's': 1e3}[b['time_unit']]
        families.setdefault((m[1], m[2]), {})[int(m[3])] = b['cpu_time'] * scale
    for (name, param), times in families.items():
        print(f'{name}: CPU time by {param} (target: 10x the input about 10x)')
        for n in sorted(times):
            smaller = times.get(n // 10)
            ratio = f'{times[n] / smaller:6.1f}x' if smaller else ''
            print(f'  {n:>10,}  {times[n]:>10.2f} ms  {ratio}')


if __name__ == '__main__':
    main()
