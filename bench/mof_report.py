#!/usr/bin/env python3
"""Prints the MOF reader's benchmark (bench/mof_bench, Google Benchmark
JSON, median of the repetitions): reading a 1,600-class schema through
#pragma include against reading the same bytes from disk, as a ratio.
Usage: mof_report.py mof_bench.json"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from report import medians  # noqa: E402


def ms(b):
    scale = {'ns': 1e-6, 'us': 1e-3, 'ms': 1.0, 's': 1e3}[b['time_unit']]
    return b['cpu_time'] * scale


def main():
    runs = medians(sys.argv[1])
    schema, floor = runs['BM_ReadSchema'], runs['BM_ReadSchemaBytes']
    mb = schema['bytes'] / 1e6
    print('Schema of 1,600 class files, %.1f MB, through #pragma include (median)' % mb)
    print('  read and parsed %8.1f ms   bytes read only %6.1f ms   ratio %5.1f  (CPU)'
          '   target: well under a second' % (ms(schema), ms(floor), ms(schema) / ms(floor)))

if __name__ == '__main__':
    main()
