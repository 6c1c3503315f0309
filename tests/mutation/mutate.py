#!/usr/bin/env python3
"""Plants the faults of rules.txt in a copy of the sources, one at a time,
rebuilds the simulated-platform test binary and runs it against each.

  mutate.py SOURCE_COPY BUILD_DIR RULES [NAME...]

SOURCE_COPY is a copy of the repository that BUILD_DIR was configured from;
its files are changed and put back here. With NAMEs only those mutants run.
Prints one line per mutant and a summary; exits 1 when a mutant that is not
marked equivalent survives, when one marked equivalent is killed, or when a
rule no longer fits the code it names.
"""
import os
import re
import subprocess
import sys
import time

KEYS = ('file', 'why', 'find', 'replace', 'equivalent')
# The random schedules take longest; a mutant the other tests kill never
# gets that far.
QUICK = '-Shard/RandomSchedules.*:Checker/FaultyPrograms.*'
SLOW = 'Shard/RandomSchedules.*:Checker/FaultyPrograms.*'
TIMEOUT = 120
# Random schedules per mutant that the other tests let through (CI runs 5000).
SEEDS = '1000'


def parse(path):
    """Rules as dicts. A key's value is the rest of its line; "<<" there
    starts a value of whole lines, verbatim, up to a line ">>"."""
    rules, rule = [], None
    lines = open(path).read().split('\n')
    i = 0
    while i < len(lines):
        line, number = lines[i], i + 1
        i += 1
        m = re.match(r'^\[([a-z0-9-]+)\]\s*$', line)
        if m:
            rule = {'name': m.group(1), 'line': number}
            rules.append(rule)
            continue
        m = re.match(r'^(%s):(.*)$' % '|'.join(KEYS), line)
        if m and rule is not None:
            value = m.group(2).strip()
            if value == '<<':
                block = []
                while i < len(lines) and lines[i] != '>>':
                    block.append(lines[i])
                    i += 1
                if i == len(lines):
                    sys.exit('%s:%d: "<<" without ">>"' % (path, number))
                i += 1
                value = '\n'.join(block)
            rule[m.group(1)] = value
            continue
        if line.strip() and not line.startswith('#'):
            sys.exit('%s:%d: not part of a rule: %s' % (path, number, line))
    for r in rules:
        missing = [k for k in ('file', 'why', 'find', 'replace') if k not in r]
        if missing:
            sys.exit('%s:%d: rule %s lacks %s' % (path, r['line'], r['name'], ', '.join(missing)))
    return rules


def run_tests(binary, filt):
    """(killed, by): by names the first failing test, or how the run ended."""
    try:
        p = subprocess.run([binary, '--gtest_filter=' + filt, '--gtest_fail_fast', '--gtest_brief=0'],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=TIMEOUT,
                           env=dict(os.environ, LARKSPAN_SEEDS=os.environ.get('LARKSPAN_SEEDS', SEEDS)))
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
    how = 'timed out' if code == 'timeout' else 'crashed'
    return True, '%s (%s)' % (where, how)


def build(build_dir):
    p = subprocess.run(['nice', '-n', '10', 'cmake', '--build', build_dir, '--target', 'larkspan_tests',
                        '--', '-j2'], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return p.returncode == 0, p.stdout.decode(errors='replace')


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    source, build_dir, rules_path = sys.argv[1:4]
    wanted = set(sys.argv[4:])
    rules = parse(rules_path)
    names = [r['name'] for r in rules]
    if len(set(names)) != len(names):
        sys.exit('rules.txt: a name is used twice')
    if wanted - set(names):
        sys.exit('no such mutant: ' + ', '.join(sorted(wanted - set(names))))
    rules = [r for r in rules if not wanted or r['name'] in wanted]
    binary = os.path.join(build_dir, 'tests', 'larkspan_tests')

    started = time.time()
    ok, log = build(build_dir)
    if not ok or run_tests(binary, '*')[0]:
        print(log[-3000:])
        sys.exit('the unmutated sources do not build or do not pass their tests')
    print('# unmutated: builds and passes (%.0f s)' % (time.time() - started))

    originals = {}
    results = []
    # Grouped by file, so each file is rebuilt once per mutant and restored once.
    rules.sort(key=lambda r: r['file'])
    print('%-40s %-16s %-12s %5s  %s' % ('mutant', 'file', 'result', 'secs', 'killed by'))
    for rule in rules:
        path = os.path.join(source, rule['file'])
        if rule['file'] not in originals:
            for f, text in originals.items():
                open(os.path.join(source, f), 'w').write(text)
            originals = {rule['file']: open(path).read()}
        text = originals[rule['file']]
        t0 = time.time()
        count = text.count(rule['find'])
        if count != 1:
            result, by = 'BAD RULE', 'its find text occurs %d times in %s' % (count, rule['file'])
        else:
            open(path, 'w').write(text.replace(rule['find'], rule['replace']))
            built, log = build(build_dir)
            if not built:
                result, by = 'BAD RULE', 'does not compile: ' + ' '.join(
                    l.strip() for l in log.splitlines() if 'error' in l)[:200]
            else:
                killed, by = run_tests(binary, QUICK)
                if not killed:
                    killed, by = run_tests(binary, SLOW)
                equivalent = 'equivalent' in rule
                if killed:
                    result = 'KILLED EQUIV' if equivalent else 'killed'
                else:
                    result = 'equivalent' if equivalent else 'SURVIVED'
                    by = rule.get('equivalent', '')
        results.append((rule, result, by, time.time() - t0))
        print('%-40s %-16s %-12s %5.0f  %s' % (rule['name'], rule['file'], result, time.time() - t0, by), flush=True)
    for f, text in originals.items():
        open(os.path.join(source, f), 'w').write(text)

    count = lambda what: sum(1 for _, r, _, _ in results if r == what)
    bad = count('SURVIVED') + count('KILLED EQUIV') + count('BAD RULE')
    print()
    print('mutants %d, killed %d, equivalent %d, survived %d, equivalent but killed %d, bad rules %d' %
          (len(results), count('killed'), count('equivalent'), count('SURVIVED'), count('KILLED EQUIV'),
           count('BAD RULE')))
    files = sorted(set(r['file'] for r, _, _, _ in results))
    for f in files:
        mine = [x for x in results if x[0]['file'] == f]
        print('  %-18s %3d mutants, %3d killed' % (f, len(mine), sum(1 for x in mine if x[1] == 'killed')))
    print('mutation time %.0f s' % (time.time() - started))
    for rule, result, by, _ in results:
        if result in ('SURVIVED', 'KILLED EQUIV', 'BAD RULE'):
            print('%s: %s (%s, rules.txt line %d): %s' % (result, rule['name'], rule['why'], rule['line'], by))
    sys.exit(1 if bad else 0)


main()
