#!/usr/bin/env python3
"""Runs the simulated-platform test binary once per fault that generate.py
made, the fault chosen by LARKSPAN_MUTANT, two at a time.

  mutate.py TEST_BINARY MUTANTS_TSV FAULTS_FILE [NUMBER...]

Prints one line per fault and a summary; exits 1 when a fault that is not
listed as equivalent in FAULTS_FILE survives, when one listed there is
killed, or when a listed one is no longer made.
"""
import concurrent.futures
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from generate import read_faults  # noqa: E402

# The random schedules take longest; a fault the other tests find never
# gets that far.
QUICK = '-Shard/RandomSchedules.*:Checker/FaultyPrograms.*'
SLOW = 'Shard/RandomSchedules.*:Checker/FaultyPrograms.*'
# A fault that stops the program from ending runs until this; one that
# does not took at most 3.5 s alone, and CI's lanes run about twice as slow.
TIMEOUT = 15
# Random schedules per fault that the other tests let through (CI runs 5000).
SEEDS = '1000'


def run_tests(binary, mutant, filt):
    """(killed, by): by names the first failing test, or how the run ended."""
    env = dict(os.environ, LARKSPAN_SEEDS=os.environ.get('LARKSPAN_SEEDS', SEEDS), LARKSPAN_MUTANT=str(mutant))
    try:
        p = subprocess.run([binary, '--gtest_filter=' + filt, '--gtest_fail_fast', '--gtest_brief=0'],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=TIMEOUT, env=env)
        out, code = p.stdout.decode(errors='replace'), p.returncode
    except subprocess.TimeoutExpired as e:
        out, code = (e.stdout or b'').decode(errors='replace'), 'timeout'
    if code == 0:
        return False, ''
    failed = re.findall(r'^\[  FAILED  \] ([\w/.]+)', out, re.M)
    if failed:
        return True, failed[0]
    running = re.findall(r'^\[ RUN      \] ([\w/.]+)', out, re.M)
    where = running[-1] if running else 'start-up'
    return True, '%s (%s)' % (where, 'timed out' if code == 'timeout' else 'crashed')


def judge(binary, row):
    started = time.time()
    killed, by = run_tests(binary, row['id'], QUICK)
    if not killed:
        killed, by = run_tests(binary, row['id'], SLOW)
    return killed, by, time.time() - started


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    binary, table, faults_path = sys.argv[1:4]
    wanted = set(int(n) for n in sys.argv[4:])
    keys = ('id', 'file', 'line', 'function', 'operator', 'from', 'to')
    rows = [dict(zip(keys, line.rstrip('\n').split('\t'))) for line in open(table)]
    for row in rows:
        row['id'] = int(row['id'])
    equivalent = {(f['file'], f['function'], f['from'], f['to']): f for f in read_faults(faults_path) if f['kind'] == 'equivalent'}
    for row in rows:
        row['equivalent'] = equivalent.get((row['file'], row['function'], row['from'], row['to']))
    made = set((r['file'], r['function'], r['from'], r['to']) for r in rows)
    stale = [f for key, f in equivalent.items() if key not in made]

    started = time.time()
    if run_tests(binary, 0, '*')[0]:
        sys.exit('the sources as they stand do not pass their tests')
    print('# as they stand: pass (%.0f s)' % (time.time() - started))
    rows = [r for r in rows if not wanted or r['id'] in wanted]
    print('%4s  %-22s %-9s %-12s %5s  %s' % ('#', 'where', 'operator', 'result', 'secs', 'killed by, or the fault'))
    results = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=int(os.environ.get('LARKSPAN_MUTATION_JOBS', '2'))) as pool:
        for row, (killed, by, secs) in zip(rows, pool.map(lambda r: judge(binary, r), rows)):
            if row['equivalent']:
                result = 'KILLED EQUIV' if killed else 'equivalent'
            else:
                result = 'killed' if killed else 'SURVIVED'
            fault = '%s  =>  %s' % (row['from'], row['to'] or '(nothing)')
            print('%4d  %-22s %-9s %-12s %5.1f  %s' % (row['id'], '%s:%s' % (row['file'], row['line']), row['operator'],
                                                     result, secs, by if killed else fault), flush=True)
            results.append((row, result))

    count = lambda what: sum(1 for _, r in results if r == what)
    print()
    print('faults %d, killed %d, equivalent %d, survived %d, equivalent but killed %d, listed but no longer made %d' %
          (len(results), count('killed'), count('equivalent'), count('SURVIVED'), count('KILLED EQUIV'),
           0 if wanted else len(stale)))
    for f in sorted(set(r['file'] for r, _ in results)):
        mine = [x for x in results if x[0]['file'] == f]
        print('  %-18s %3d faults, %3d killed' % (f, len(mine), sum(1 for x in mine if x[1] == 'killed')))
    print('mutation time %.0f s' % (time.time() - started))
    for row, result in results:
        if result == 'SURVIVED':
            print('SURVIVED #%d, to list as equivalent or to catch:\nequivalent %s %s\n    from: %s\n    to: %s\n    why:' %
                  (row['id'], row['file'], row['function'], row['from'], row['to']))
        elif result == 'KILLED EQUIV':
            print('KILLED but listed as equivalent (%s line %d): #%d' % (faults_path, row['equivalent']['line'],
                                                                         row['id']))
    if not wanted:
        for f in stale:
            print('%s:%d: listed as equivalent but no longer made: %s => %s' % (faults_path, f['line'], f['from'], f['to']))
    bad = count('SURVIVED') + count('KILLED EQUIV') + (0 if wanted else len(stale))
    sys.exit(1 if bad else 0)


if __name__ == '__main__':
    main()
