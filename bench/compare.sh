#!/usr/bin/env bash
# Times vaulting and unvaulting next to common tools on the same machine, in
# one run, and prints medians and ratios:
#
#   * a large file (1 GiB by default) on tmpfs (/dev/shm) and on the normal
#     disk: cp, avlt vault, avlt unvault, age -r / age -d, gpg -e / -d (no
#     compression), openssl enc -aes-256-ctr (both ways); peak resident memory
#     of avlt;
#   * many small files (10,000 of 1 KiB by default) vaulted in one avlt call
#     on tmpfs, and up to 1,000 of them once on the disk;
#   * compute-only figures from av_bench (cipher, container writes to
#     /dev/null, reads from tmpfs, PBKDF2 and RSA costs).
#
#   bench/compare.sh [--size-mib N] [--reps N] [--files N] [--disk-dir DIR]
#                    [--build DIR] [--no-disk]
#
# Installs nothing: tools that are missing (age, gpg, /usr/bin/time) are
# skipped with a note. avlt and av_bench come from --build DIR, else from the
# first build*/ folder of the repository that holds both; configure it with
# -DCMAKE_BUILD_TYPE=Release. Disk runs end with an fsync of the output file,
# so their times include reaching the disk. The machine should be otherwise
# idle: the load average is printed at the start and the end.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

size_mib=1024
reps=5
small_files=10000
disk_dir="${TMPDIR:-/var/tmp}"
build=""
with_disk=1
while [ $# -gt 0 ]; do
    case "$1" in
        --size-mib) size_mib="$2"; shift 2 ;;
        --reps) reps="$2"; shift 2 ;;
        --files) small_files="$2"; shift 2 ;;
        --disk-dir) disk_dir="$2"; shift 2 ;;
        --build) build="$2"; shift 2 ;;
        --no-disk) with_disk=0; shift ;;
        -h|--help) sed -n '2,24p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done

if [ -z "$build" ]; then
    for candidate in "$ROOT"/build*/; do
        if [ -x "$candidate/Cli/avlt" ] && [ -x "$candidate/bench/av_bench" ]; then
            build="$candidate"
            break
        fi
    done
fi
avlt="${build%/}/Cli/avlt"
av_bench="${build%/}/bench/av_bench"
[ -n "$build" ] && [ -x "$avlt" ] && [ -x "$av_bench" ] || {
    echo "avlt and av_bench not found; build them (targets avlt av_bench) or pass --build DIR" >&2
    exit 2
}
avlt="$(realpath "$avlt")"
av_bench="$(realpath "$av_bench")"

have() { command -v "$1" >/dev/null 2>&1; }
skipped=()
have age && have age-keygen || skipped+=("age (Debian package age)")
have gpg || skipped+=("gpg (Debian package gnupg)")
have openssl || skipped+=("openssl (Debian package openssl)")
[ -x /usr/bin/time ] || skipped+=("peak memory of avlt (Debian package time)")

work="$(mktemp -d /dev/shm/avlt-compare-XXXXXX)"
disk_work=""
cleanup() {
    rm -rf "$work"
    [ -n "$disk_work" ] && rm -rf "$disk_work"
    return 0
}
trap cleanup EXIT

export HOME="$work/home"
export AVLT_PASSWORD="compare password"
unset AVLT_USER
mkdir -p "$HOME"
"$avlt" account create-local >/dev/null

if have age-keygen; then
    age-keygen -o "$work/age-key.txt" 2>/dev/null
    age_recipient="$(age-keygen -y "$work/age-key.txt")"
fi
if have gpg; then
    export GNUPGHOME="$work/gnupg"
    mkdir -m 700 -p "$GNUPGHOME"
    gpg --batch --quiet --passphrase '' --quick-gen-key bench@example.invalid default default never 2>/dev/null
fi
ctr_key="$(od -An -tx1 -N32 /dev/urandom | tr -d ' \n')"
ctr_iv="$(od -An -tx1 -N16 /dev/urandom | tr -d ' \n')"

now() { date +%s.%N; }
calc() { awk "BEGIN { print ($1) }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
load_average() { cut -d' ' -f1-3 /proc/loadavg; }

# On a virtual machine the host may take back memory the guest has freed, and
# handing it out again costs more than the copying itself: here the same 1 GiB
# dd into tmpfs took 0.4 s right after a file was deleted and up to 2.4 s
# otherwise. So that no tool gets warmer memory than another, every timed run
# starts right after a file of the big file's size was written and deleted.
prime_memory() {
    head -c "$((size_mib * 1048576))" /dev/zero >"$work/prime"
    rm -f "$work/prime"
}

# run_timed NAME OUTPUT SYNC COMMAND...: runs the command once, appends its
# wall time to $results/NAME (and, for avlt, its peak memory to NAME.rss).
run_timed() {
    local name="$1" output="$2" sync_after="$3"
    shift 3
    local start end
    prime_memory
    start="$(now)"
    if [ -x /usr/bin/time ] && [[ "$name" == avlt* ]]; then
        /usr/bin/time -f "%M" -o "$results/$name.rss.last" "$@" >/dev/null 2>&1
        cat "$results/$name.rss.last" >>"$results/$name.rss"
    else
        "$@" >/dev/null 2>&1
    fi
    [ "$sync_after" = 1 ] && sync "$output"
    end="$(now)"
    calc "$end - $start" >>"$results/$name"
}

# One repetition of every tool on the big file in folder $1 (sync flag $2).
big_file_round() {
    local dir="$1" sync_after="$2"
    run_timed cp "$dir/copy" "$sync_after" cp "$dir/big" "$dir/copy"
    rm -f "$dir/copy"
    run_timed "avlt vault" "$dir/vaulted/big.avlt" "$sync_after" "$avlt" vault --overwrite --to "$dir/vaulted" "$dir/big"
    run_timed "avlt unvault" "$dir/unvaulted/big" "$sync_after" \
        "$avlt" unvault --overwrite --to "$dir/unvaulted" "$dir/vaulted/big.avlt"
    cmp -s "$dir/big" "$dir/unvaulted/big" || echo "WARNING: the unvaulted file differs from the original" >&2
    # Every tool writes a new file, as cp does: replacing one would add the
    # freeing of the old file's pages to the time.
    rm -rf "$dir/unvaulted" "$dir/vaulted"
    if have age; then
        run_timed "age -r" "$dir/big.age" "$sync_after" age -r "$age_recipient" -o "$dir/big.age" "$dir/big"
        run_timed "age -d" "$dir/big.age.out" "$sync_after" age -d -i "$work/age-key.txt" -o "$dir/big.age.out" "$dir/big.age"
        rm -f "$dir/big.age" "$dir/big.age.out"
    fi
    if have gpg; then
        run_timed "gpg -e" "$dir/big.gpg" "$sync_after" gpg --batch --yes --quiet --trust-model always \
            --compress-algo none -r bench@example.invalid -o "$dir/big.gpg" -e "$dir/big"
        run_timed "gpg -d" "$dir/big.gpg.out" "$sync_after" gpg --batch --yes --quiet -o "$dir/big.gpg.out" -d "$dir/big.gpg"
        rm -f "$dir/big.gpg" "$dir/big.gpg.out"
    fi
    if have openssl; then
        run_timed "openssl ctr enc" "$dir/big.ctr" "$sync_after" \
            openssl enc -aes-256-ctr -K "$ctr_key" -iv "$ctr_iv" -in "$dir/big" -out "$dir/big.ctr"
        run_timed "openssl ctr dec" "$dir/big.ctr.out" "$sync_after" \
            openssl enc -d -aes-256-ctr -K "$ctr_key" -iv "$ctr_iv" -in "$dir/big.ctr" -out "$dir/big.ctr.out"
        rm -f "$dir/big.ctr" "$dir/big.ctr.out"
    fi
}

# Table of one location: median seconds, MB/s, ratio to cp, and the goals.
print_big_table() {
    local title="$1"
    local cp_median age_median
    cp_median="$(median <"$results/cp")"
    echo
    echo "== $title: ${size_mib} MiB, median of $reps =="
    printf "%-18s %10s %10s %8s %14s\n" tool "median s" "MB/s" "x cp" "peak RSS MiB"
    local name
    for name in cp "avlt vault" "avlt unvault" "age -r" "age -d" "gpg -e" "gpg -d" "openssl ctr enc" "openssl ctr dec"; do
        [ -f "$results/$name" ] || continue
        local m rss="-"
        m="$(median <"$results/$name")"
        if [ -f "$results/$name.rss" ]; then
            rss="$(sort -n "$results/$name.rss" | tail -1 | awk '{ printf "%.1f", $1 / 1024 }')"
        fi
        printf "%-18s %10.3f %10.0f %8.2f %14s\n" "$name" "$m" \
            "$(calc "$size_mib * 1048576 / $m / 1000000")" "$(calc "$m / $cp_median")" "$rss"
    done
    local vault unvault
    vault="$(median <"$results/avlt vault")"
    unvault="$(median <"$results/avlt unvault")"
    goal "vault <= 1.3 x cp" "$(calc "$vault <= 1.3 * $cp_median")"
    goal "unvault <= 1.3 x cp" "$(calc "$unvault <= 1.3 * $cp_median")"
    if [ -f "$results/age -r" ]; then
        goal "vault faster than age -r" "$(calc "$vault < $(median <"$results/age -r")")"
        goal "unvault faster than age -d" "$(calc "$unvault < $(median <"$results/age -d")")"
    fi
    for name in "avlt vault" "avlt unvault"; do
        [ -f "$results/$name.rss" ] || continue
        goal "$name peak RSS < 64 MiB" "$(sort -n "$results/$name.rss" | tail -1 | awk '{ print ($1 < 65536) }')"
    done
}

goal() { printf "  goal %-32s %s\n" "$1" "$([ "$2" = 1 ] && echo met || echo MISSED)"; }

# Big file runs in folder $1, titled $2, with sync flag $3.
big_file_location() {
    local dir="$1" title="$2" sync_after="$3"
    results="$dir/results"
    mkdir -p "$results"
    head -c "$((size_mib * 1048576))" /dev/urandom >"$dir/big"
    [ "$sync_after" = 1 ] && sync "$dir/big"
    local rep
    for rep in $(seq "$reps"); do
        big_file_round "$dir" "$sync_after"
    done
    rm -f "$dir/big"
    print_big_table "$title"
}

# Many small files ($3 of them) vaulted in one avlt call, in folder $1, $4
# times; $5 = 1 checks the goal.
small_files_location() {
    local dir="$1" title="$2" count="$3" rounds="$4" check="$5"
    mkdir -p "$dir/small"
    local i
    for i in $(seq "$count"); do
        head -c 1024 /dev/urandom >"$dir/small/f$i"
    done
    local times=()
    for i in $(seq "$rounds"); do
        local start end
        start="$(now)"
        "$avlt" vault --to "$dir/small-vaulted" "$dir/small" >/dev/null
        end="$(now)"
        times+=("$(calc "$end - $start")")
        local made
        made="$(find "$dir/small-vaulted" -name '*.avlt' | wc -l)"
        [ "$made" -eq "$count" ] || echo "WARNING: $made of $count containers made" >&2
        rm -rf "$dir/small-vaulted"
    done
    local m
    m="$(printf "%s\n" "${times[@]}" | median)"
    local rate
    rate="$(calc "$count / $m")"
    printf "%-58s %8.3f s  %8.0f files/s\n" "$title: $count x 1 KiB, one avlt call" "$m" "$rate"
    [ "$check" = 1 ] && goal "small files >= 5000 files/s" "$(calc "$rate >= 5000")"
    return 0
    rm -rf "$dir/small"
}

echo "# bench/compare.sh $(date -u '+%Y-%m-%d %H:%M UTC') on $(lscpu | sed -n 's/^Model name: *//p' | head -1)," \
    "$(nproc) CPUs; load average at start: $(load_average)"
echo "# avlt: $avlt"
for note in "${skipped[@]+"${skipped[@]}"}"; do
    echo "# skipped, not installed: $note"
done

mkdir -p "$work/tmpfs"
big_file_location "$work/tmpfs" "tmpfs (/dev/shm)" 0
if [ "$with_disk" = 1 ]; then
    disk_work="$(mktemp -d "$disk_dir/avlt-compare-XXXXXX")"
    fs="$(findmnt -no FSTYPE -T "$disk_work" 2>/dev/null || stat -f -c %T "$disk_work")"
    [ "$fs" = tmpfs ] && echo "# note: $disk_dir is on tmpfs, not a disk; pass --disk-dir" >&2
    big_file_location "$disk_work" "disk ($disk_dir, $fs, fsync of the output included)" 1
fi

echo
echo "== many small files =="
small_files_location "$work/tmpfs" "tmpfs, median of $reps" "$small_files" "$reps" 1
# On a disk every container is flushed before it replaces its target, so the
# disk's flush latency sets the pace: a shorter run shows it.
if [ "$with_disk" = 1 ]; then
    disk_small=$((small_files < 1000 ? small_files : 1000))
    small_files_location "$disk_work" "disk, one run (a flush per file)" "$disk_small" 1 0
fi

echo
echo "== compute only (av_bench, ${size_mib} MiB, median of $reps) =="
bench_out="$("$av_bench" --size-mib "$size_mib" --reps "$reps")"
echo "$bench_out"
one_core="$(echo "$bench_out" | awk '$1 == "container_write_devnull_1core" { print $2 }')"
goal "compute only >= 3 GB/s on one core" "$(calc "$one_core >= 3")"
echo
echo "# load average at the end: $(load_average)"
