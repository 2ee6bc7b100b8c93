#!/usr/bin/env python3
"""Whole runs of the model program over MOF repositories of n and of 10 n
items, printing the CPU time of each (median of 5 runs, child CPU time, so
that other load on the machine counts little) and their ratio: a cost that
grows with the input, as reading must, gives about 10.
  - a chain of n classes, each deriving from the one before, one instance
    each, with the program's first query alone and with a query at the root;
  - one class of n properties and an instance setting them all, every
    property queried.
Usage: mof_scale.py BUILD_DIR"""
import os
import resource
import statistics
import subprocess
import sys
import tempfile

RUNS = 5


def chain(n):
    lines = ['class Win32_ComputerSystem { string Model; };',
             'instance of Win32_ComputerSystem { Model = "Bench"; };',
             'class C0 { [key] uint32 Id; };', 'instance of C0 { Id = 0; };']
    for i in range(1, n):
        lines.append('class C%d : C%d {};' % (i, i - 1))
        lines.append('instance of C%d { Id = %d; };' % (i, i))
    return '\n'.join(lines) + '\n'


def wide(n):
    names = ['Property%d' % i for i in range(n)]
    return ('class Wide {\n' + ''.join('  uint32 %s;\n' % p for p in names) + '};\n'
            'instance of Wide {\n' + ''.join('  %s = %d;\n' % (p, i) for i, p in enumerate(names))
            + '};\n')


def cpu_ms(model, repository, args, windir):
    env = {k: v for k, v in os.environ.items() if k.lower() != 'windir'}
    env.update(Windir=windir, MODEL_WMI_REPOSITORY=repository)
    times = []
    for _ in range(RUNS):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        subprocess.run([model] + args, env=env, check=True, stdout=subprocess.DEVNULL)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        times.append((after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime) * 1e3)
    return statistics.median(times)


def main():
    model = os.path.join(sys.argv[1], 'model')
    cases = [
        ('classes in a chain, one instance each, first query', chain, 2000, []),
        ('classes in a chain, queried at the root', chain, 2000, ['C0;Id']),
        ('properties of one class, all set and queried', wide, 10000, ['Wide;*']),
    ]
    print('Ten times the input, whole runs (CPU time, median of %d)' % RUNS)
    with tempfile.TemporaryDirectory() as tmp:
        for what, make, n, args in cases:
            ms = []
            for size in (n, 10 * n):
                path = os.path.join(tmp, 'repo%d.mof' % size)
                with open(path, 'w') as f:
                    f.write(make(size))
                ms.append(cpu_ms(model, path, args, tmp))
            print('  %6d vs %6d %-50s %7.1f ms %8.1f ms  ratio %5.1f  (about 10 when linear)'
                  % (n, 10 * n, what, ms[0], ms[1], ms[1] / ms[0]))


if __name__ == '__main__':
    main()
