#!/usr/bin/env bash
# Mutation check: seeds one small fault at a time into the program (an exact
# search/replace edit from scripts/mutations.txt), rebuilds, runs the test
# suite and puts the file back. A fault is caught when the build or the
# suite fails (a hang counts too, through the timeouts); it survives when
# the suite still passes.
#
# Usage: scripts/mutation_check.sh [--tree DIR] [--build DIR] [--only REGEX]
#                                  [--list FILE] [--check]
#   --tree   source tree to mutate (default: the repository holding this script)
#   --build  its build dir (default: TREE/build; configured with Ninja if missing)
#   --only   run only the faults whose id or file matches the extended regex
#   --list   fault list (default: mutations.txt beside this script)
#   --check  only verify that every search text matches exactly once
#
# The unmutated suite runs first and must pass. Results go to stdout and to
# BUILD/mutation_check.log; each fault's build and test output to
# BUILD/mutation_logs/ID.txt. A mutated file is restored from a backup
# copy on exit, Ctrl+C or kill, and the copy gets a fresh mtime so that the
# next build compiles it again. Backups left by a killed run are restored at
# the next start.
set -uo pipefail

script_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
tree="$(cd "$script_dir/.." && pwd)"
build=""
only=""
list="$script_dir/mutations.txt"
check_only=0

while [ $# -gt 0 ]; do
    case "$1" in
        --tree) tree="$(cd "$2" && pwd)" || exit 2; shift 2 ;;
        --build) build="$2"; shift 2 ;;
        --only) only="$2"; shift 2 ;;
        --list) list="$2"; shift 2 ;;
        --check) check_only=1; shift ;;
        -h|--help) sed -n '2,22p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "mutation_check: unknown argument $1" >&2; exit 2 ;;
    esac
done
[ -n "$build" ] || build="$tree/build"
[ -f "$list" ] || { echo "mutation_check: no list $list" >&2; exit 2; }

build_timeout=1800  # s, one rebuild
suite_timeout=900   # s, one whole suite run
test_timeout=120    # s, one test binary
export QT_QPA_PLATFORM=offscreen

work="$(mktemp -d "${TMPDIR:-/tmp}/mutation_check.XXXXXX")"
backup_dir="$build/mutation_backup"
out_dir="$build/mutation_logs"
log="$build/mutation_check.log"

# ---- fault list and edits (python3) ----------------------------------------

# Writes one directory per selected fault under $work/m/NNN with the files
# id, desc, file, search, replace.
parse_list() {
    python3 - "$list" "$work/m" "$only" <<'PY'
import os, re, sys
path, out, only = sys.argv[1], sys.argv[2], sys.argv[3]
blocks, cur, heredoc = [], {}, None
with open(path, encoding="utf-8") as f:
    lines = f.read().split("\n")
for n, line in enumerate(lines, 1):
    if heredoc:
        key, end, acc = heredoc
        if line == end:
            cur[key] = "\n".join(acc)
            heredoc = None
        else:
            acc.append(line)
        continue
    if line.startswith("#"):
        continue
    if not line.strip():
        if cur:
            blocks.append(cur)
            cur = {}
        continue
    m = re.match(r"^(search|replace)\s*<<(\w+)\s*$", line)
    if m:
        heredoc = (m.group(1), m.group(2), [])
        continue
    m = re.match(r"^(id|desc|file|search|replace):(?: (.*))?$", line)
    if not m:
        sys.exit(f"{path}:{n}: cannot read: {line!r}")
    cur[m.group(1)] = m.group(2) or ""
if heredoc:
    sys.exit(f"{path}: unterminated {heredoc[0]} <<{heredoc[1]}")
if cur:
    blocks.append(cur)
seen = set()
k = 0
for b in blocks:
    for key in ("id", "desc", "file", "search", "replace"):
        if key not in b:
            sys.exit(f"{path}: block {b.get('id', '?')} lacks {key}")
    if b["id"] in seen:
        sys.exit(f"{path}: duplicate id {b['id']}")
    seen.add(b["id"])
    if b["search"] == b["replace"]:
        sys.exit(f"{path}: {b['id']} changes nothing")
    if only and not (re.search(only, b["id"]) or re.search(only, b["file"])):
        continue
    d = os.path.join(out, f"{k:03d}")
    os.makedirs(d)
    for key in ("id", "desc", "file", "search", "replace"):
        with open(os.path.join(d, key), "w", encoding="utf-8") as f:
            f.write(b[key])
    k += 1
PY
}

# Prints how often the search text of fault dir $1 occurs in its file.
count_matches() {
    python3 - "$tree/$(cat "$1/file")" "$1/search" <<'PY'
import sys
try:
    text = open(sys.argv[1], encoding="utf-8").read()
except OSError:
    print(0); sys.exit()
print(text.count(open(sys.argv[2], encoding="utf-8").read()))
PY
}

# Writes the mutated file for fault dir $1 (the backup is made before).
apply_fault() {
    python3 - "$tree/$(cat "$1/file")" "$1/search" "$1/replace" <<'PY'
import sys
target, search, replace = sys.argv[1], open(sys.argv[2], encoding="utf-8").read(), open(sys.argv[3], encoding="utf-8").read()
text = open(target, encoding="utf-8").read()
assert text.count(search) == 1
with open(target, "w", encoding="utf-8") as f:
    f.write(text.replace(search, replace, 1))
PY
}

# ---- restoring -------------------------------------------------------------

child=""         # process group of the running build or suite
current_rel=""   # file now mutated, relative to the tree

# A plain copy (no -p): the restored file is newer than the objects built
# from the mutant, so the next build compiles it again.
restore_one() {
    local rel="$1"
    local saved="$backup_dir/$(echo "$rel" | tr / %)"
    [ -f "$saved" ] || return 0
    cp "$saved" "$tree/$rel" && rm -f "$saved"
}

restore_all_backups() {
    [ -d "$backup_dir" ] || return 0
    local saved rel
    for saved in "$backup_dir"/*; do
        [ -f "$saved" ] || continue
        rel="$(basename "$saved" | tr % /)"
        echo "mutation_check: restoring $rel from an earlier run" >&2
        restore_one "$rel"
    done
}

on_exit() {
    if [ -n "$child" ]; then
        kill -TERM -- "-$child" 2>/dev/null
        wait "$child" 2>/dev/null
    fi
    if [ -n "$current_rel" ]; then
        restore_one "$current_rel"
        echo "mutation_check: restored $current_rel" >&2
    fi
    rm -rf "$work"
}
trap on_exit EXIT
trap 'echo "mutation_check: interrupted" >&2; exit 130' INT TERM HUP

# Runs "$@" under a timeout in its own process group (timeout makes one),
# output to file $1; waits so that a signal reaches the trap at once.
run_logged() {
    local out="$1" limit="$2"
    shift 2
    timeout -k 10 "$limit" "$@" >>"$out" 2>&1 &
    child=$!
    wait "$child"
    local rc=$?
    child=""
    return $rc
}

build_tree() {
    run_logged "$1" "$build_timeout" cmake --build "$build" -j2
}

# The quick layers first, the end-to-end tests only when those pass: most
# faults fall in the first phase, which takes seconds.
run_suite() {
    run_logged "$1" "$suite_timeout" ctest --test-dir "$build" -j2 --stop-on-failure -LE e2e \
        --timeout "$test_timeout" --output-on-failure \
        && run_logged "$1" "$suite_timeout" ctest --test-dir "$build" -j2 --stop-on-failure -L e2e \
            --timeout "$test_timeout" --output-on-failure
}

# The tests that failed, from a ctest output file.
failed_tests() {
    sed -n '/The following tests FAILED/,$p' "$1" | grep -E '^\s+[0-9]+ - ' \
        | sed -E 's/^\s+[0-9]+ - ([^ ]+).*\((.*)\)$/\1(\2)/' | tr '\n' ' '
}

# ---- main ------------------------------------------------------------------

parse_list || exit 2
faults=("$work"/m/*)
[ -d "${faults[0]}" ] || { echo "mutation_check: no fault selected" >&2; exit 2; }

if [ "$check_only" = 1 ]; then
    bad=0
    for d in "${faults[@]}"; do
        n="$(count_matches "$d")"
        if [ "$n" != 1 ]; then
            printf '%-5s %s: %s matches\n' "$(cat "$d/id")" "$(cat "$d/file")" "$n"
            bad=$((bad + 1))
        fi
    done
    echo "${#faults[@]} faults, $bad not matching exactly once"
    [ "$bad" = 0 ]
    exit
fi

mkdir -p "$build" "$backup_dir" "$out_dir"
restore_all_backups
: >"$log"
say() { echo "$*" | tee -a "$log"; }

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
        >"$out_dir/configure.txt" 2>&1 || { echo "mutation_check: configure failed, see $out_dir/configure.txt" >&2; exit 2; }
fi

start_all=$SECONDS
say "mutation check of $tree (build $build), list $list, $(date '+%F %T')"
base_out="$out_dir/baseline.txt"
: >"$base_out"
t0=$SECONDS
if ! build_tree "$base_out"; then
    say "unmutated tree does not build, see $base_out"; exit 1
fi
if ! run_suite "$base_out"; then
    say "unmutated suite fails: $(failed_tests "$base_out")(see $base_out)"; exit 1
fi
say "unmutated suite passes ($((SECONDS - t0)) s with the build)"

caught=0; total=0; compile_errors=0
survivors=(); skipped=(); compile_list=()
for d in "${faults[@]}"; do
    id="$(cat "$d/id")"; rel="$(cat "$d/file")"; desc="$(cat "$d/desc")"
    n="$(count_matches "$d")"
    if [ "$n" != 1 ]; then
        say "$(printf '%-5s skipped: no match (%s matches in %s)' "$id" "$n" "$rel")"
        skipped+=("$id")
        continue
    fi
    out="$out_dir/$id.txt"
    echo "$id: $desc ($rel)" >"$out"
    t0=$SECONDS
    cp -p "$tree/$rel" "$backup_dir/$(echo "$rel" | tr / %)"
    current_rel="$rel"
    apply_fault "$d" || { say "$id: could not apply"; exit 1; }
    total=$((total + 1))
    if ! build_tree "$out"; then
        verdict="caught (compile error)"
        caught=$((caught + 1)); compile_errors=$((compile_errors + 1)); compile_list+=("$id")
    elif run_suite "$out"; then
        verdict="SURVIVED"
        survivors+=("$id  $desc")
    else
        rc=$?
        verdict="caught"
        [ "$rc" = 124 ] || [ "$rc" = 137 ] && verdict="caught (suite timeout)"
        verdict="$verdict by $(failed_tests "$out")"
        caught=$((caught + 1))
    fi
    restore_one "$rel"
    current_rel=""
    say "$(printf '%-5s %-40s %4d s  %s' "$id" "$verdict" $((SECONDS - t0)) "$rel")"
done

# Leave the build matching the restored sources.
build_tree "$out_dir/final_build.txt" || say "warning: final rebuild failed, see $out_dir/final_build.txt"

say ""
say "$caught/$total caught ($compile_errors by compile error${skipped:+, ${#skipped[@]} skipped: ${skipped[*]}})"
if [ ${#survivors[@]} -gt 0 ]; then
    say "survivors:"
    for s in "${survivors[@]}"; do say "  $s"; done
fi
[ ${#compile_list[@]} -gt 0 ] && say "compile errors: ${compile_list[*]}"
say "total time $(( (SECONDS - start_all) / 60 )) min $(( (SECONDS - start_all) % 60 )) s"
exit 0
