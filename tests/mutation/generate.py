#!/usr/bin/env python3
"""Makes the program's faults from its sources, all of them in one build.

  generate.py SOURCE_COPY FAULTS_FILE MUTANTS_TSV

Rewrites, in SOURCE_COPY (a copy of the repository), every core source so
that each fault is a branch taken only when LARKSPAN_MUTANT names it, and
replaces the embedded dialog template by one that picks its faulty variant
the same way. Writes one row per fault to MUTANTS_TSV: id, file, line,
the function it is in, operator, the statement as it stands, what it
becomes.

The operators, statement by statement:
  removed     an expression statement (a call, an assignment) left out,
              or a return inside a block
  swapped     two adjacent calls in the other order
  negated     a condition turned around
  answer      a handler's answer turned around (return !Call(...))
  constant    an integer one higher; a size or level of ours halved;
              TRUE and FALSE exchanged; a string, or one of ours, one
              character short
  twin        a name put for its twin: 1 and 2, capture and playback,
              Record and Stop
  operator    < and <=, > and >=, == and !=, && and ||, * and /
In the dialog template: a number one higher, a style flag left out, a
string one character short, a twin, two controls in the other order.
FAULTS_FILE adds the faults no operator makes ("hand").
"""
import os
import re
import subprocess
import sys

CORE = ['app/main.cpp', 'sound/blocks.cpp', 'sound/loop.cpp', 'trace/trace.cpp']
TEMPLATE = 'res/record.rc'
HEADERS = ['sound/loop.h', 'sound/blocks.h', 'trace/trace.h', 'res/resource.h']
SELECT = 'Mutant()'
TWINS = [('1', '2'), ('Capture', 'Playback'), ('Capture', 'Play'), ('capture', 'play'), ('RECORD', 'STOP')]
KEYWORDS = ('return', 'case', 'default', 'break', 'continue', 'goto', 'else', 'do')
STRING = re.compile(r'"(?:[^"\\]|\\.)*"')


def mask_strings(text):
    """The text with every string literal's inside blanked, same length."""
    return STRING.sub(lambda m: '"' + ' ' * (len(m.group(0)) - 2) + '"', text)


def strip_comment(text):
    i = mask_strings(text).find('//')
    return text if i < 0 else text[:i].rstrip()


def outer_parens(text, start):
    """Index of the parenthesis closing the one at start, or -1."""
    masked, depth = mask_strings(text), 0
    for i in range(start, len(masked)):
        depth += {'(': 1, ')': -1}.get(masked[i], 0)
        if depth == 0:
            return i
    return -1


def core_macros(root):
    """Our constants by name, with their values; the control ids are left
    to the template, since the code uses them as case labels."""
    macros = {}
    for header in HEADERS:
        for m in re.finditer(r'^#define (\w+) (.+)$', open(os.path.join(root, header)).read(), re.M):
            if not m.group(1).startswith('IDC_'):
                macros[m.group(1)] = m.group(2)
    return macros


class Statement:
    """One logical statement: its kind and the parts an operator changes."""

    def __init__(self, text):
        self.text = text
        self.kind, self.parts = classify(text)


def classify(text):
    m = re.match(r'^(if|switch|while) \((.*)\)( \{)?$', text)
    if m and outer_parens(text, text.index('(')) == len(text) - 1 - len(m.group(3) or ''):
        return 'cond', {'keyword': m.group(1), 'cond': m.group(2), 'tail': m.group(3) or ''}
    m = re.match(r'^for \(([^;]*); ([^;]*); ([^;]*)\)( \{)?$', text)
    if m:
        return 'for', {'init': m.group(1), 'cond': m.group(2), 'step': m.group(3), 'tail': m.group(4) or ''}
    if text.startswith('return ') and text.endswith(';'):
        return 'return', {'value': text[len('return '):-1]}
    if not text.endswith(';') or text.startswith('(void)') or text.split(' ')[0].rstrip(':;') in KEYWORDS:
        return None, {}
    m = re.match(r'^((?:const )?[A-Za-z_]\w*(?: \*+| )\**[A-Za-z_]\w*)(?: = (.*))?;$', text)
    if m and not re.match(r'^\w+ ([=!<>+\-/&|]|\* )', text):
        return 'decl', {'name': m.group(1), 'init': m.group(2)}
    return 'expr', {}


def token_variants(text, macros, identifiers):
    """(operator, changed text) for each place an operator applies."""
    masked = mask_strings(text)
    out = []

    def at(start, end, new, operator):
        out.append((operator, text[:start] + new + text[end:]))

    for m in re.finditer(r'(?<![\w.])(0x[0-9A-Fa-f]+|\d+)(?![\w.])', masked):
        at(m.start(), m.end(), str(int(m.group(1), 0) + 1), 'constant')
    for m in re.finditer(r'\b\w+\b', masked):
        word = m.group(0)
        if word in macros:
            value = macros[word]
            at(m.start(), m.end(), value[:-2] + '"' if value.startswith('"') else '(%s / 2)' % word, 'constant')
        elif word in ('TRUE', 'FALSE'):
            at(m.start(), m.end(), 'FALSE' if word == 'TRUE' else 'TRUE', 'constant')
        else:
            for a, b in TWINS:
                for old, new in ((a, b), (b, a)):
                    twin = word[:-1] + new if old.isdigit() and word.endswith(old) else word.replace(old, new, 1)
                    if twin != word and twin in identifiers and (not old.isdigit() or word.endswith(old)):
                        at(m.start(), m.end(), twin, 'twin')
    for m in re.finditer(r'"(?:[^"\\]|\\.)+"', text):
        at(m.end() - 2, m.end() - 1, '', 'constant')
    swaps = {'<': '<=', '<=': '<', '>': '>=', '>=': '>', '==': '!=', '!=': '==', '&&': '||', '||': '&&'}
    for m in re.finditer(r'(?<=[\w)\]]) (<=|>=|==|!=|<|>|&&|\|\||\*|/) (?=[\w(!])', masked):
        op = m.group(1)
        at(m.start(1), m.end(1), swaps.get(op, {'*': '/', '/': '*'}.get(op)), 'operator')
    return [(o, t) for o, t in out if t != text]


def variants(statement, function_answers, nested, macros, identifiers):
    kind, parts, text = statement.kind, statement.parts, statement.text
    out = []
    if kind == 'expr':
        out.append(('removed', ''))
        out += token_variants(text, macros, identifiers)
    elif kind == 'return':
        if nested:
            out.append(('removed', ''))
        value = parts['value']
        if function_answers and re.match(r'^\w+\(.*\)$', value):
            out.append(('answer', 'return !%s;' % value))
        out += token_variants(text, macros, identifiers)
    elif kind == 'cond':
        out.append(('negated', '%s (!(%s))%s' % (parts['keyword'], parts['cond'], parts['tail'])))
        for operator, cond in token_variants(parts['cond'], macros, identifiers):
            out.append((operator, '%s (%s)%s' % (parts['keyword'], cond, parts['tail'])))
    elif kind == 'for':
        for key in ('init', 'cond'):
            for operator, changed in token_variants(parts[key], macros, identifiers):
                p = dict(parts, **{key: changed})
                out.append((operator, 'for (%s; %s; %s)%s' % (p['init'], p['cond'], p['step'], p['tail'])))
    elif kind == 'decl' and parts['init'] is not None:
        for operator, init in token_variants(parts['init'], macros, identifiers):
            out.append((operator, '%s = %s;' % (parts['name'], init)))
    return out


def choice(pairs, original, truth=False):
    """A ternary that is pairs' value when its mutant is chosen, else original;
    with truth, each as a bool, so that a pointer and a comparison can meet."""
    form = '(bool)(%s)' if truth else '(%s)'
    text = ''
    for number, value in pairs:
        text += '%s == %d ? %s : ' % (SELECT, number, form % value)
    return text + form % original


def schema(statement, chosen):
    """The statement rewritten so that each (number, text) in chosen is what
    runs when its mutant is chosen, the statement as it stands otherwise."""
    if not chosen:
        return statement.text
    kind, parts = statement.kind, statement.parts
    changed = [(n, Statement(t) if t else None) for n, t in chosen]
    for n, s in changed:
        if s is not None and kind in ('cond', 'for', 'decl') and s.kind != kind:
            raise ValueError('fault %d is not a statement of the same kind: %s' % (n, s.text))
    if kind in ('expr', 'return'):
        text = ''
        for n, s in changed:
            text += 'if (%s == %d) { %s } else ' % (SELECT, n, s.text if s else '')
        return text + '{ %s }' % statement.text
    if kind == 'cond':
        cond = choice([(n, s.parts['cond']) for n, s in changed], parts['cond'], parts['keyword'] != 'switch')
        return '%s (%s)%s' % (parts['keyword'], cond, parts['tail'])
    if kind == 'for':
        init_name, init_value = parts['init'].split(' = ')
        init = choice([(n, s.parts['init'].split(' = ')[1]) for n, s in changed if s.parts['init'] != parts['init']],
                      init_value)
        cond = choice([(n, s.parts['cond']) for n, s in changed if s.parts['cond'] != parts['cond']], parts['cond'],
                      True)
        return 'for (%s = %s; %s; %s)%s' % (init_name, init, cond, parts['step'], parts['tail'])
    return '%s = %s;' % (parts['name'], choice([(n, s.parts['init']) for n, s in changed], parts['init']))


def logical_lines(lines):
    """(first line index, line count, indent, text) of each statement-sized
    piece inside a function body; a statement split over lines is joined."""
    out, depth, i = [], 0, 0
    function = None
    while i < len(lines):
        text = strip_comment(lines[i]).strip()
        first, count = i, 1
        while text and depth > 0 and mask_strings(text).count('(') > mask_strings(text).count(')'):
            text += ' ' + strip_comment(lines[first + count]).strip()
            count += 1
        header = re.match(r'^[\w ]+[ *](\w+)\(.*\)$', text)
        if depth == 0 and header:
            function = header.group(1)
        if depth > 0 and text:
            out.append((first, count, lines[i][:len(lines[i]) - len(lines[i].lstrip())], text, function))
        masked = mask_strings(text)
        depth += masked.count('{') - masked.count('}')
        i += count
    return out


def read_faults(path):
    """Hand faults and equivalent ones: [{kind, file, function, from, to, why, line}]."""
    faults, fault = [], None
    for number, line in enumerate(open(path).read().split('\n'), 1):
        if not line.strip() or line.startswith('#'):
            continue
        m = re.match(r'^(hand|equivalent) (\S+) (\w+(?:#\d+)?)$', line)
        if m:
            fault = {'kind': m.group(1), 'file': m.group(2), 'function': m.group(3), 'line': number}
            faults.append(fault)
            continue
        m = re.match(r'^    (from|to|why):(?: (.*))?$', line)
        if not m or fault is None:
            sys.exit('%s:%d: not part of a fault: %s' % (path, number, line))
        fault[m.group(1)] = m.group(2) or ''
    for f in faults:
        for key in ('from', 'to', 'why'):
            if key not in f:
                sys.exit('%s:%d: the fault lacks "%s"' % (path, f['line'], key))
    return faults


def is_call(statement):
    return statement.kind == 'expr' and re.match(r'^\w+\(', statement.text) is not None


class Faults:
    def __init__(self):
        self.rows = []

    def add(self, file, line, function, operator, before, after):
        self.rows.append((len(self.rows) + 1, file, line, function, operator, before, after))
        return len(self.rows)


def rewrite_source(root, file, faults, hand, macros, identifiers):
    path = os.path.join(root, file)
    lines = open(path).read().split('\n')
    pieces = logical_lines(lines)
    statements = [Statement(text) for _, _, _, text, _ in pieces]
    chosen = [[] for _ in pieces]
    answering = set(re.findall(r'^(?:static )?(?:BOOL|INT_PTR)\b.*?(\w+)\(', '\n'.join(lines), re.M))
    # A statement written more than once in a function is told apart by
    # its place among them: "Name#2" is the second.
    seen = {}
    for k, (first, count, indent, text, function) in enumerate(pieces):
        seen[function, text] = seen.get((function, text), 0) + 1
        if seen[function, text] > 1:
            pieces[k] = (first, count, indent, text, '%s#%d' % (function, seen[function, text]))
    for k, (first, _, indent, text, function) in enumerate(pieces):
        nested = len(indent) > 4
        for operator, changed in variants(statements[k], function.split('#')[0] in answering, nested, macros, identifiers):
            chosen[k].append((faults.add(file, first + 1, function, operator, text, changed), changed))
        for h in hand:
            if h['file'] == file and h['function'] == function and h['from'] == text:
                chosen[k].append((faults.add(file, first + 1, function, 'hand', text, h['to']), h['to']))
                h['used'] = True
    swaps = {}
    for k in range(len(pieces) - 1):
        (first, count, indent, text, function), nxt = pieces[k], pieces[k + 1]
        if (is_call(statements[k]) and is_call(statements[k + 1]) and nxt[0] == first + count and
                nxt[2] == indent):
            swaps[k] = faults.add(file, first + 1, function, 'swapped', text, nxt[3] + ' ' + text)
    for k, (first, count, indent, text, _) in enumerate(pieces):
        own = schema(statements[k], chosen[k])
        line = own
        if k in swaps:
            line = 'if (%s == %d) { %s %s } else { %s }' % (SELECT, swaps[k], schema(statements[k + 1],
                                                                                      chosen[k + 1]), own, own)
        if k - 1 in swaps:
            line = 'if (%s != %d) { %s }' % (SELECT, swaps[k - 1], line)
        lines[first] = indent + line
        for extra in range(1, count):
            lines[first + extra] = ''
    # Read once; the tests run one mutant per process.
    prelude = ('#include <stdlib.h>\nstatic int Mutant(void)\n{\n    static const char *chosen = getenv("LARKSPAN_MUTANT");\n'
               '    static int number = chosen ? atoi(chosen) : 0;\n    return number;\n}\n')
    include = max(i for i, l in enumerate(lines) if l.startswith('#include')) + 1
    lines.insert(include, prelude)
    open(path, 'w').write('\n'.join(lines))


def template_variants(text, identifiers):
    """Whole-template variants of the dialog template, per line."""
    lines = text.split('\n')
    out = []
    for i, line in enumerate(lines):
        code = strip_comment(line).strip()
        if not re.match(r'^(\w+ DIALOG|STYLE|CAPTION|FONT|CONTROL)\b', code):
            continue
        indent = line[:len(line) - len(line.lstrip())]
        changed = []
        masked = mask_strings(code)
        for m in re.finditer(r'(?<![\w.])(\d+)(?![\w.])', masked):
            changed.append(('constant', code[:m.start()] + str(int(m.group(1)) + 1) + code[m.end():]))
        for m in re.finditer(r'"(?:[^"\\]|\\.)+"', code):
            changed.append(('constant', code[:m.end() - 2] + code[m.end() - 1:]))
        for m in re.finditer(r'(?:(?<=\| )|(?<=STYLE )|(?<=", ))([A-Z_]+)( \| )', masked):
            changed.append(('flag', code[:m.start(1)] + code[m.end(2):]))
        for m in re.finditer(r'( \| )([A-Z_]+)(?=,|$)', masked):
            changed.append(('flag', code[:m.start(1)] + code[m.end(2):]))
        for operator, twin in token_variants(code, set(), identifiers):
            if operator == 'twin':
                changed.append((operator, twin))
        for operator, new in changed:
            out.append((i + 1, operator, code, '\n'.join(lines[:i] + [indent + new] + lines[i + 1:]), new))
        if code.startswith('CONTROL') and strip_comment(lines[i + 1]).strip().startswith('CONTROL'):
            swapped = lines[:i] + [lines[i + 1], lines[i]] + lines[i + 2:]
            out.append((i + 1, 'swapped', code, '\n'.join(swapped), lines[i + 1].strip() + ' / ' + code))
    return out


def preprocess(root, text):
    compiler = os.environ.get('CC', 'cc')
    p = subprocess.run([compiler, '-E', '-P', '-x', 'c', '-DRC_INVOKED', '-I' + os.path.join(root, 'port/include'),
                        '-I' + os.path.join(root, 'res'), '-'], input=text.encode(), stdout=subprocess.PIPE,
                       check=True)
    return p.stdout.decode()


def rewrite_template(root, faults, hand, identifiers):
    text = open(os.path.join(root, TEMPLATE)).read()
    choices = []
    for line, operator, before, whole, after in template_variants(text, identifiers):
        choices.append((faults.add(TEMPLATE, line, 'template', operator, before, after), whole))
    lines = text.split('\n')
    for h in hand:
        if h['file'] != TEMPLATE:
            continue
        for i, line in enumerate(lines):
            if line.strip() == h['from']:
                indent = line[:len(line) - len(line.lstrip())]
                whole = '\n'.join(lines[:i] + [indent + h['to']] + lines[i + 1:])
                choices.append((faults.add(TEMPLATE, i + 1, 'template', 'hand', h['from'], h['to']), whole))
                h['used'] = True
    cases = ''.join('    case %d:\n        return R"rc(%s)rc";\n' % (n, preprocess(root, whole))
                    for n, whole in choices)
    source = ('// The dialog template, or the faulty variant LARKSPAN_MUTANT names.\n#include <stdlib.h>\n'
              'namespace port {\nstatic const char *Chosen()\n{\n'
              '    const char *chosen = getenv("LARKSPAN_MUTANT");\n    switch (chosen ? atoi(chosen) : 0) {\n'
              '%s    }\n    return R"rc(%s)rc";\n}\nextern const char *const kResourceScript;\n'
              'const char *const kResourceScript = Chosen();\n}\n' % (cases, preprocess(root, text)))
    generated = os.path.join(root, 'cmake', 'mutant_resource_script.cpp')
    open(generated, 'w').write(source)
    open(os.path.join(root, 'cmake', 'embed_script.cmake'), 'w').write(
        'file(COPY_FILE %s ${OUTPUT})\n' % generated)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    root, faults_path, table = sys.argv[1:]
    hand = [f for f in read_faults(faults_path) if f['kind'] == 'hand']
    macros = core_macros(root)
    identifiers = set()
    for file in CORE + HEADERS + [TEMPLATE]:
        identifiers |= set(re.findall(r'\b[A-Za-z_]\w*\b', mask_strings(open(os.path.join(root, file)).read())))
    faults = Faults()
    for file in CORE:
        rewrite_source(root, file, faults, hand, macros, identifiers)
    rewrite_template(root, faults, hand, identifiers)
    unused = [h for h in hand if not h.get('used')]
    for h in unused:
        print('%s:%d: the hand fault\'s statement is not in %s: %s' % (faults_path, h['line'], h['file'], h['from']))
    with open(table, 'w') as out:
        for row in faults.rows:
            out.write('\t'.join(str(x) for x in row) + '\n')
    sys.exit(1 if unused else 0)


if __name__ == '__main__':
    main()
