#!/usr/bin/env python3
"""Whole runs of the model program over MOF repositories of n and of 10 n
items, printing the CPU time of each (median of 5 runs, child CPU time, so
that other load on the machine counts little), the largest resident memory
of a run, and their ratios: a cost that grows with the input, as reading
must, gives about 10.
  - a chain of n classes, each deriving from the one before, one instance
    each, with the program's first query alone and with a query at the root;
  - one class of n properties and an instance setting them all, every
    property queried;
  - shapes whose cost once grew faster than the text: n subclasses of a
    class of 2,000 properties, a chain of n classes adding a property each,
    n instances of __Namespace, n instances and n #pragma deleteinstance
    of them, and n instances of an undeclared class naming a property each.
Usage: mof_scale.py BUILD_DIR"""
import os
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


def family(n):
    return wide(2000).split('instance')[0] + ''.join('class S%d : Wide {};\n' % i for i in range(n))


def grows(n):
    return 'class A0 {};\n' + ''.join('class A%d : A%d { uint32 P%d; };\n' % (i, i - 1, i)
                                       for i in range(1, n))


def repeated(template):
    return lambda n: ''.join(template % {'i': i} for i in range(n))


def deletions(n):
    return ('class K { [key] uint32 Id; };\n' + repeated('instance of K { Id = %(i)d; };\n')(n)
            + repeated('#pragma deleteinstance("K.Id=%(i)d", FAIL)\n')(n))


def cpu_ms(build, repository, args, windir):
    """Median CPU milliseconds of RUNS runs, and the resident kilobytes at
    the peak of one run, taken by bench/launch: a child started from this
    script would inherit its peak."""
    model = os.path.join(build, 'model')
    env = {k: v for k, v in os.environ.items() if k.lower() != 'windir'}
    env.update(Windir=windir, MODEL_WMI_REPOSITORY=repository)
    times = []
    for _ in range(RUNS):
        child = subprocess.Popen([model] + args, env=env, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            raise subprocess.CalledProcessError(os.waitstatus_to_exitcode(status), model)
        times.append((usage.ru_utime + usage.ru_stime) * 1e3)
    out = subprocess.run([os.path.join(build, 'bench', 'launch'), '1', model] + args, env=env,
                         check=True, capture_output=True, text=True).stdout
    return statistics.median(times), int(out.split()[1])


def main():
    cases = [
        ('classes in a chain, one instance each, first query', chain, 2000, []),
        ('classes in a chain, queried at the root', chain, 2000, ['C0;Id']),
        ('properties of one class, all set and queried', wide, 10000, ['Wide;*']),
        ('subclasses of a class of 2,000 properties', family, 500, []),
        ('classes in a chain, a property added by each', grows, 2000, []),
        ('instances of __Namespace',
         repeated('instance of __Namespace { Name = "N%(i)d"; };\n'), 4000, []),
        ('instances, then #pragma deleteinstance of each', deletions, 4000, []),
        ('instances of an undeclared class, a property each',
         repeated('instance of Open { P%(i)d = 1; };\n'), 1000, []),
    ]
    print('Ten times the input, whole runs (CPU time, median of %d; largest'
          ' resident memory)' % RUNS)
    with tempfile.TemporaryDirectory() as tmp:
        for what, make, n, args in cases:
            ms, kb = [], []
            for size in (n, 10 * n):
                path = os.path.join(tmp, 'repo%d.mof' % size)
                with open(path, 'w') as f:
                    f.write(make(size))
                cpu, rss = cpu_ms(sys.argv[1], path, args, tmp)
                ms.append(cpu)
                kb.append(rss)
            print('  %6d vs %6d %-50s %7.1f ms %8.1f ms  ratio %5.1f   %7d KB %8d KB'
                  '  ratio %5.1f  (about 10 when linear)'
                  % (n, 10 * n, what, ms[0], ms[1], ms[1] / ms[0], kb[0], kb[1],
                     kb[1] / kb[0]))


if __name__ == '__main__':
    main()
