#!/usr/bin/env python3
"""Whole runs of the model program beside a floor: a static C program that
reads one sysfs file and writes one line (bench/sysfs_line.c). Prints, each
beside its target:
  - time per launch, loops of 200 launches each, interleaved over 5 rounds
    (median), and the ratio model / floor;
  - user-space instructions counted by valgrind --tool=callgrind;
  - peak RSS;
  - 1,000 against 10,000 requests on a 1,000-instance repository.
Usage: wholerun.py BUILD_DIR"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

LAUNCHES = 200
ROUNDS = 5


def launch(build, count, program, args, env):
    out = subprocess.run([os.path.join(build, 'bench', 'launch'), str(count), program] + args,
                         env=env, check=True, capture_output=True, text=True).stdout
    micros, rss = out.split()
    return float(micros), int(rss)


def instructions(program, env):
    done = subprocess.run(['valgrind', '--tool=callgrind', '--callgrind-out-file=/dev/null',
                           program], env=env, capture_output=True, text=True)
    found = re.search(r'Collected : (\d+)', done.stderr)
    return int(found.group(1)) if found else None


def scale_repository(path):
    """1,000 classes of one instance each, beside the computer system."""
    with open(path, 'w') as f:
        f.write('class Win32_ComputerSystem { string Model; };\n'
                'instance of Win32_ComputerSystem { Model = "Bench"; };\n')
        for i in range(1000):
            f.write('class Bench%d { [key] uint32 Id; string Name; };\n'
                    'instance of Bench%d { Id = %d; Name = "item %d"; };\n' % (i, i, i, i))


def main():
    build = sys.argv[1]
    model = os.path.join(build, 'model')
    floor = os.path.join(build, 'bench', 'sysfs_line')
    windir = tempfile.mkdtemp()
    try:
        env = {k: v for k, v in os.environ.items()
               if k.lower() != 'windir' and not k.startswith('MODEL_')}
        env['Windir'] = windir
        subprocess.run([model], env=env, check=True)

        model_times, floor_times, model_rss, floor_rss = [], [], 0, 0
        for _ in range(ROUNDS):
            t, r = launch(build, LAUNCHES, floor, [], env)
            floor_times.append(t)
            floor_rss = max(floor_rss, r)
            t, r = launch(build, LAUNCHES, model, [], env)
            model_times.append(t)
            model_rss = max(model_rss, r)
        m, f = statistics.median(model_times), statistics.median(floor_times)
        print('Whole run, no requests, live provider (median of %d loops of %d launches)'
              % (ROUNDS, LAUNCHES))
        print('  %-22s %8.0f us per launch' % ('model', m))
        print('  %-22s %8.0f us per launch' % ('static C floor', f))
        print('  %-22s %8.2fx   target <= 1.50  %s'
              % ('ratio', m / f, 'ok' if m / f <= 1.5 else 'over'))
        print('  %-22s %8.2f MiB  target < 2 MiB  %s  (floor %.2f MiB)'
              % ('peak RSS', model_rss / 1024, 'ok' if model_rss < 2048 else 'over',
                 floor_rss / 1024))
        if shutil.which('valgrind'):
            mi, fi = instructions(model, env), instructions(floor, env)
            if mi is not None:
                print('  %-22s %8d     target < 300,000  %s  (floor %s)'
                      % ('instructions (user)', mi, 'ok' if mi < 300000 else 'over', fi))

        repository = os.path.join(windir, 'scale.mof')
        scale_repository(repository)
        env['MODEL_WMI_REPOSITORY'] = repository
        times = {}
        for n in (1000, 10000):
            args = ['Bench%d;Name' % (i % 1000) for i in range(n)]
            times[n] = statistics.median(
                launch(build, 1, model, args, env)[0] for _ in range(5)) / 1e6
        ratio = times[10000] / times[1000]
        print('Scaling on a 1,000-instance repository (median of 5 runs)')
        print('  %-22s %8.3f s' % ('1,000 requests', times[1000]))
        print('  %-22s %8.3f s    target < 1 s  %s'
              % ('10,000 requests', times[10000], 'ok' if times[10000] < 1 else 'over'))
        print('  %-22s %8.2fx   target < 11  %s' % ('ratio', ratio, 'ok' if ratio < 11 else 'over'))
    finally:
        shutil.rmtree(windir)


if __name__ == '__main__':
    main()
