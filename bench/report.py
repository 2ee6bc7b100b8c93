#!/usr/bin/env python3
"""Prints the micro-benchmark results of core_bench (Google Benchmark JSON,
median of the repetitions) as ratios beside their targets.
Usage: report.py core_bench.json"""
import json
import sys


def medians(path):
    with open(path) as f:
        data = json.load(f)
    result = {}
    for b in data['benchmarks']:
        if b.get('aggregate_name', 'median') != 'median':
            continue
        name = b.get('run_name', b['name'])
        result[name] = b
    return result


def main():
    runs = medians(sys.argv[1])
    print('Tokenizer vs memchr, 1 MB text split on one byte (median of runs)')
    print(f'  {"mean token":>10}  {"CTokenizer":>12}  {"memchr":>12}  {"ratio":>6}'
          '  target >= 0.50')
    for length in (8, 25, 200):
        tok = runs[f'BM_Tokenizer/token:{length}']['bytes_per_second'] / 1e6
        mem = runs[f'BM_Memchr/token:{length}']['bytes_per_second'] / 1e6
        ratio = tok / mem
        mark = 'ok' if ratio >= 0.5 else 'below'
        print(f'  {length:>8} B  {tok:>9.0f} MB/s  {mem:>7.0f} MB/s  {ratio:>6.2f}  {mark}')
    print('FormatPropertyValue per value (malloc and free included)')
    for name, b in runs.items():
        if not name.startswith('BM_Format_'):
            continue
        ns = b['cpu_time'] if b['time_unit'] == 'ns' else b['cpu_time'] * 1e3
        mark = 'ok' if ns < 200 else 'over'
        print(f'  {name[len("BM_Format_"):]:>10}  {ns:>7.1f} ns  target < 200 ns  {mark}')


if __name__ == '__main__':
    main()
