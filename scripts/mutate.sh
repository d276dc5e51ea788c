#!/usr/bin/env bash
# Mutation score of the Release suite: plants seeded, random operator mutants
# in the library's sources (a85 codec decode encode parallel simd host stream, .cpp files), one at a
# time, rebuilds the Release build incrementally, runs its ctest and counts a
# mutant killed when any test fails or times out. A mutant that does not
# compile is discarded and not counted (the count of those is printed too).
# The same seed over the same library sources gives the same mutants, so two
# checkouts whose library code agrees can be compared.
# Usage: scripts/mutate.sh [-n COUNT] [-s SEED] [-t SECONDS] [-r REPO] [-b BUILD] [-x REGEX]
#   COUNT mutants that compile (default 40), SEED (default 21), SECONDS per
#   test (default 120), REPO the checkout to mutate (default this one), BUILD
#   its Release build dir (default REPO/build), REGEX tests to leave out (ctest
#   -E; e.g. the install checks, which rebuild consumers and take a minute).
#   Last line: "killed K of M".
set -euo pipefail
count=40 seed=21 per_test=120 exclude=
repo=$(cd "$(dirname "$0")/.." && pwd)
build=
while getopts "n:s:t:r:b:x:" opt; do
  case $opt in
    n) count=$OPTARG ;; s) seed=$OPTARG ;; t) per_test=$OPTARG ;;
    r) repo=$(cd "$OPTARG" && pwd) ;; b) build=$OPTARG ;; x) exclude=$OPTARG ;;
    *) echo "usage: $0 [-n COUNT] [-s SEED] [-t SECONDS] [-r REPO] [-b BUILD] [-x REGEX]" >&2; exit 2 ;;
  esac
done
build=${build:-$repo/build}
[ -f "$build/build.ninja" ] || cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 >/dev/null

work=$(mktemp -d)
current=
restore() {
  if [ -n "$current" ]; then cp "$work/original" "$repo/$current"; current=; fi
}
trap 'restore; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# The candidate sites, one a line: file<TAB>line<TAB>column<TAB>old<TAB>new,
# shuffled by the seed. Comments, strings and preprocessor lines are skipped.
python3 - "$repo" "$seed" >"$work/sites" <<'EOF'
import os, random, re, sys
repo, seed = sys.argv[1], int(sys.argv[2])
SWAPS = {' < ': ' >= ', ' > ': ' <= ', ' <= ': ' < ', ' >= ': ' > ', ' == ': ' != ',
         ' != ': ' == ', ' && ': ' || ', ' || ': ' && ', ' + 1': ' - 1', ' - 1': ' + 1',
         'return true;': 'return false;', 'return false;': 'return true;',
         'return 0;': 'return 1;', '++': '--', '--': '++'}
OPS = re.compile('|'.join(re.escape(k) for k in sorted(SWAPS, key=len, reverse=True)))
LITERAL = re.compile(r'(?<![\w.])([0-9]+)(?![\w.])')
STATEMENT = re.compile(r'^\s*[A-Za-z_][\w.\->\[\]]*\s*(=|\+=|-=|\|=|&=|<<=|>>=|\(|\+\+|--)[^{}]*;\s*$')
def code_part(line, in_block):
    """The line with comments and string/char literals blanked; the block state after it."""
    out, i = [], 0
    while i < len(line):
        if in_block:
            end = line.find('*/', i)
            if end < 0: return ''.join(out) + ' ' * (len(line) - i), True
            out.append(' ' * (end + 2 - i)); i = end + 2; in_block = False
        elif line.startswith('//', i):
            out.append(' ' * (len(line) - i)); break
        elif line.startswith('/*', i):
            in_block = True
        elif line[i] in '"\'':
            q, j = line[i], i + 1
            while j < len(line) and line[j] != q: j += 2 if line[j] == '\\' else 1
            out.append(' ' * (j + 1 - i)); i = j + 1
        else:
            out.append(line[i]); i += 1
    return ''.join(out), in_block
sites = []
for top in ['a85', 'codec', 'decode', 'encode', 'parallel', 'simd', 'host', 'stream']:
    for root, _, files in sorted(os.walk(os.path.join(repo, top))):
        for name in sorted(files):
            if not name.endswith('.cpp'): continue
            path = os.path.join(root, name)
            rel = os.path.relpath(path, repo)
            in_block, prev = False, ';'
            for no, line in enumerate(open(path).read().split('\n'), 1):
                code, in_block = code_part(line, in_block)
                stripped = code.strip()
                if not stripped or stripped.startswith('#') or 'static_assert' in code:
                    continue
                for m in OPS.finditer(code):
                    sites.append((rel, no, m.start(), m.group(0), SWAPS[m.group(0)]))
                for m in LITERAL.finditer(code):
                    sites.append((rel, no, m.start(), m.group(1), str(int(m.group(1)) + 1)))
                if (STATEMENT.match(code) and prev[-1] in ';{}:' and
                        not re.match(r'\s*(return|case|default|break|continue)\b', code)):
                    sites.append((rel, no, 0, 'STATEMENT', 'DELETED'))
                prev = stripped
# Each kind gets its share: comparisons, &&/||, off-by-one (literals, +-1,
# ++/--), return values and deleted statements, taken in turn.
KIND = {' < ': 0, ' > ': 0, ' <= ': 0, ' >= ': 0, ' == ': 0, ' != ': 0, ' && ': 1, ' || ': 1,
        'return true;': 3, 'return false;': 3, 'return 0;': 3, 'STATEMENT': 4}
kinds = [[] for _ in range(5)]
for s in sites: kinds[KIND.get(s[3], 2)].append(s)
rng = random.Random(seed)
for k in kinds: rng.shuffle(k)
for i in range(max(map(len, kinds))):
    for k in kinds:
        if i < len(k): print('\t'.join(map(str, k[i])))
EOF

apply() {  # file line column old new: writes the mutant over the file
  python3 - "$repo/$1" "$2" "$3" "$4" "$5" <<'EOF'
import sys
path, no, col, old, new = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
lines = open(path).read().split('\n')
line = lines[no - 1]
if old == 'STATEMENT':
    lines[no - 1] = ''
else:
    assert line[col:col + len(old)] == old
    lines[no - 1] = line[:col] + new + line[col + len(old):]
open(path, 'w').write('\n'.join(lines))
EOF
}

killed=0 tried=0 discarded=0
echo "mutate: $(wc -l <"$work/sites") candidate sites, seed $seed, $count mutants"
while IFS=$'\t' read -r file line col old new && [ "$tried" -lt "$count" ]; do
  cp "$repo/$file" "$work/original"
  current=$file
  apply "$file" "$line" "$col" "$old" "$new"
  what="$file:$line:$col '$old' -> '$new'"
  if ! cmake --build "$build" -j2 >"$work/build.log" 2>&1; then
    discarded=$((discarded + 1))
    echo "discarded (does not compile): $what"
    restore
    continue
  fi
  tried=$((tried + 1))
  if ctest --test-dir "$build" -j2 --timeout "$per_test" --stop-on-failure ${exclude:+-E "$exclude"} \
       >"$work/ctest.log" 2>&1; then
    echo "SURVIVED $tried: $what"
    sed -n "${line}p" "$work/original" | sed 's/^/    was: /'
  else
    killed=$((killed + 1))
    first=$(grep -m1 -E '\*\*\*(Failed|Timeout|Exception)|Failed  ' "$work/ctest.log" | sed 's/  */ /g' || true)
    echo "killed $tried: $what ($first)"
  fi
  restore
done <"$work/sites"
cmake --build "$build" -j2 >/dev/null  # the build of the unmutated sources again
echo "discarded $discarded mutants that do not compile"
echo "killed $killed of $tried"
