#!/usr/bin/env bash
# Benchmark of korvik against the everyday tools a user would otherwise reach
# for (md5sum, unix2dos).  See bench/README.md for what each case means.
#
#   bench/run.sh [--build DIR | --korvik PATH] [--size BYTES] [--pairs N]
#                [--small-runs N] [--big-size BYTES | --skip-big]
#                [--crowd N | --skip-crowd] [--skip-cold] [--skip-full]
#                [--scratch DIR] [--keep] [--strict]
set -euo pipefail

# EPOCHREALTIME must use '.' as its decimal point, sort/awk must not care
# about the locale either.
export LC_ALL=C

readonly GIB=1073741824
readonly MIB=1048576

size=$GIB
pairs=3
small_runs=200
big_size=$((5 * GIB))
skip_big=0
crowd=200000
skip_crowd=0
skip_cold=0
skip_full=0
korvik=""
build=""
scratch_parent=""
keep=0
strict=0

usage() {
    cat <<'EOF'
Usage: bench/run.sh [options]

  --build DIR        build tree holding bin/korvik (default: build, i.e. the
                     build/ folder of this checkout)
  --korvik PATH      the korvik program to measure (overrides --build)
  --size BYTES       size of the timed inputs (default 1073741824 = 1 GiB)
  --pairs N          timed korvik/peer pairs per case, interleaved (default 3)
  --small-runs N     invocations per batch in the 1 KiB case (default 200)
  --big-size BYTES   file size for the memory case (default 5 GiB)
  --skip-big         leave out the big-file memory case
  --crowd N          files in the crowded folder of the folder-size case
                     (default 200000)
  --skip-crowd       leave out the folder-size case
  --skip-cold        leave out the cold-cache cases
  --skip-full        leave out the full-volume case (it needs root to mount
                     a small tmpfs)
  --scratch DIR      folder for the generated inputs (default: a fresh
                     mktemp -d folder under /var/tmp); a private sub-folder
                     is made inside it and removed at the end
  --keep             keep the scratch folder (for looking at ravlo.log)
  --strict           exit with status 3 when a goal is not met
  -h, --help         this text
EOF
}

die() {
    printf 'run.sh: %s\n' "$*" >&2
    exit 1
}

note() {
    printf '[bench] %s\n' "$*" >&2
}

need_number() { # NAME VALUE
    [[ $2 =~ ^[0-9]+$ ]] || die "$1 needs a whole number, got '$2'"
}

while (($#)); do
    case $1 in
        --size) need_number "$1" "${2-}"; size=$2; shift 2 ;;
        --pairs) need_number "$1" "${2-}"; pairs=$2; shift 2 ;;
        --small-runs) need_number "$1" "${2-}"; small_runs=$2; shift 2 ;;
        --big-size) need_number "$1" "${2-}"; big_size=$2; shift 2 ;;
        --skip-big) skip_big=1; shift ;;
        --crowd) need_number "$1" "${2-}"; crowd=$2; shift 2 ;;
        --skip-crowd) skip_crowd=1; shift ;;
        --skip-cold) skip_cold=1; shift ;;
        --skip-full) skip_full=1; shift ;;
        --korvik) korvik=${2:?--korvik needs a path}; shift 2 ;;
        --build) build=${2:?--build needs a folder}; shift 2 ;;
        --scratch) scratch_parent=${2:?--scratch needs a folder}; shift 2 ;;
        --keep) keep=1; shift ;;
        --strict) strict=1; shift ;;
        -h | --help) usage; exit 0 ;;
        *) usage >&2; die "unknown option '$1'" ;;
    esac
done

((pairs >= 1)) || die "--pairs must be at least 1"
((small_runs >= 1)) || die "--small-runs must be at least 1"
# The CR LF generator needs room for at least one line end, the 1 KiB case
# needs room for a trailer.
((size >= 64)) || die "--size must be at least 64 bytes"
((big_size >= 64)) || die "--big-size must be at least 64 bytes"

# --------------------------------------------------------------------------
# Tools.  Nothing is installed from here: the project's install script does
# that.  We only say which Debian package brings what is missing.
# --------------------------------------------------------------------------
check_tools() {
    local missing=() pkgs=() tool pkg
    for tool in md5sum:coreutils unix2dos:dos2unix mac2unix:dos2unix \
        /usr/bin/time:time awk:mawk yes:coreutils head:coreutils \
        tr:coreutils df:coreutils sync:coreutils stat:coreutils \
        dd:coreutils seq:coreutils xargs:findutils touch:coreutils \
        mountpoint:util-linux; do
        pkg=${tool##*:}
        tool=${tool%:*}
        if ! command -v "$tool" >/dev/null 2>&1; then
            missing+=("$tool (Debian package '$pkg')")
            [[ " ${pkgs[*]} " == *" $pkg "* ]] || pkgs+=("$pkg")
        fi
    done
    if ((${#missing[@]})); then
        printf 'run.sh: missing tools:\n' >&2
        printf '  %s\n' "${missing[@]}" >&2
        printf 'install them with: apt-get install -y %s\n' "${pkgs[*]}" >&2
        exit 1
    fi
}
check_tools

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
if [[ -z $korvik ]]; then
    # Without --build, use the build/ folder of this checkout, so the script
    # works whatever the current directory is.
    [[ -n $build ]] || build="$script_dir/../build"
    korvik="$build/bin/korvik"
fi
# korvik runs with its current directory in the scratch folder, so the path
# must not be relative to where we were started.
korvik=$(realpath -m -- "$korvik")
[[ -x $korvik ]] || die "no runnable korvik at $korvik (build it first, or pass --build/--korvik)"

# --------------------------------------------------------------------------
# Scratch folder, removed on the way out.
# --------------------------------------------------------------------------
if [[ -n $scratch_parent ]]; then
    mkdir -p -- "$scratch_parent"
    scratch=$(mktemp -d "$(realpath -- "$scratch_parent")/korvik-bench.XXXXXX")
else
    scratch=$(mktemp -d /var/tmp/korvik-bench.XXXXXX)
fi
full_mnt="" # the small tmpfs of the full-volume case, while mounted
cleanup() {
    # Unmount first, even with --keep: rm -rf must not descend into it, and a
    # benchmark must not leave mounts behind.
    if [[ -n $full_mnt ]] && mountpoint -q -- "$full_mnt"; then
        umount -- "$full_mnt" || note "could not unmount $full_mnt"
    fi
    if ((keep)); then
        note "scratch folder kept: $scratch"
    else
        rm -rf -- "$scratch"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# korvik writes ravlo.log (and ravlo.Out on failure) into its current
# directory: keep them in the scratch folder.
cd -- "$scratch"

rss_file="$scratch/.rss"
err_file="$scratch/.stderr"

free_bytes() {
    df --output=avail -B1 -- "$scratch" | tail -n 1 | tr -d ' '
}

human_bytes() {
    awk -v b="$1" 'BEGIN {
        if (b >= 1073741824) printf "%.2f GiB", b / 1073741824
        else if (b >= 1048576) printf "%.1f MiB", b / 1048576
        else printf "%d bytes", b }'
}

# Inputs, working copy, unix2dos's temporary file, a possible temporary file
# of korvik -A, plus slack.
need=$((8 * size + 64 * MIB))
avail=$(free_bytes)
((avail >= need)) ||
    die "not enough room in $scratch: need about $(human_bytes "$need"), have $(human_bytes "$avail")"

# --------------------------------------------------------------------------
# Input generation.  Everything is built from a 64 KiB block of text lines
# (varied lengths, some empty) that `yes` repeats and `head -c` cuts, so a
# 1 GiB file takes about a second instead of minutes in a script loop.
# --------------------------------------------------------------------------
readonly BLOCK=65536

# gen_lines TOTAL EOL: exactly TOTAL bytes of text lines, each ending in EOL
# ("crlf" or "lf").  TOTAL must be 0 or at least the length of one line end.
gen_lines() {
    awk -v total="$1" -v kind="$2" 'BEGIN {
        e = (kind == "crlf") ? "\r\n" : "\n"
        el = length(e)
        nw = split("the of checksum line file and text korvik data seal verify byte a to in is", w, " ")
        srand(7)
        left = total
        while (left > 0) {
            n = (rand() < 0.05) ? 0 : int(rand() * 100)
            r = left - n - el
            # The last line takes whatever is left, so the total is exact
            # and the text ends with a whole line end.
            if (r < 0 || (r > 0 && r < el)) n = left - el
            s = ""
            while (length(s) < n) s = s w[int(rand() * nw) + 1] " "
            printf "%s%s", substr(s, 1, n), e
            left -= n + el
        }
    }'
}

# make_text FILE TOTAL KIND: KIND is crlf (every line ends in CR LF), lf
# (LF only) or cr (every line ends in a lone CR).
make_text() {
    local file=$1 total=$2 kind=$3 base blocks rem blk
    # Lone-CR text is LF text with every LF turned into CR.
    base=$kind
    [[ $kind == cr ]] && base=lf
    blocks=$((total / BLOCK))
    rem=$((total % BLOCK))
    # One byte cannot hold a CR LF: move one whole block into the tail.
    if [[ $base == crlf && $rem -eq 1 ]]; then
        blocks=$((blocks - 1))
        rem=$((rem + BLOCK))
    fi
    gen_lines "$BLOCK" "$base" >"$scratch/.block"
    # Read the block without losing trailing newlines, then drop exactly the
    # one that `yes` puts back after every copy.
    IFS= read -r -d '' blk <"$scratch/.block" || true
    blk=${blk%$'\n'}
    {
        # Process substitution: yes dying of SIGPIPE must not trip pipefail.
        ((blocks == 0)) || head -c "$((blocks * BLOCK))" < <(yes -- "$blk")
        ((rem == 0)) || gen_lines "$rem" "$base"
    } | if [[ $kind == cr ]]; then tr '\n' '\r'; else cat; fi >"$file"
    rm -f -- "$scratch/.block"
    local got
    got=$(stat -c %s -- "$file")
    ((got == total)) || die "generated $file has $got bytes, wanted $total"
}

warm() { # bring files into the page cache so timings are not about the disk
    cat -- "$@" >/dev/null
}

# fresh_copy SRC DST: a new working copy for one sealing run, made outside
# the timed region.  The copy is synced so that writeback of the copy does
# not compete with the timed run, and read once so it is surely cached.
fresh_copy() {
    rm -f -- "$2"
    cp --reflink=never -- "$1" "$2"
    sync
    warm "$2"
}

# --------------------------------------------------------------------------
# Timing.  Wall time comes from EPOCHREALTIME (microseconds) around the run;
# peak RSS from /usr/bin/time.  Both sides of a comparison are started the
# same way, so the small cost of /usr/bin/time itself cancels out.
# --------------------------------------------------------------------------
LAST_US=0  # wall time of the last run_timed, microseconds
LAST_KB=0  # peak RSS of the last run_timed, KiB
LAST_CPU=0 # user + system CPU time of the last run_timed, microseconds

show_failure() {
    printf 'run.sh: failed: %s\n' "$*" >&2
    [[ -s $err_file ]] && sed 's/^/  stderr: /' "$err_file" | tail -n 20 >&2
    [[ -s $scratch/ravlo.Out ]] && sed 's/^/  ravlo.Out: /' "$scratch/ravlo.Out" | tail -n 20 >&2
    return 0
}

run_timed() { # CMD ARGS...
    local t0 t1 rc=0
    t0=$EPOCHREALTIME
    /usr/bin/time -f '%M %U %S' -o "$rss_file" "$@" >/dev/null 2>"$err_file" || rc=$?
    t1=$EPOCHREALTIME
    if ((rc != 0)); then
        show_failure "$* (status $rc)"
        exit 1
    fi
    LAST_US=$((${t1/./} - ${t0/./}))
    read -r LAST_KB LAST_CPU < <(tail -n 1 -- "$rss_file" |
        awk '{ printf "%d %d\n", $1, ($2 + $3) * 1e6 }')
}

# Peer commands that are two programs in a row run under one bash -c, so
# they are timed the same way as korvik.
unix2dos_md5() { # unix2dos in place, then md5sum
    # shellcheck disable=SC2016 # $1 belongs to the inner bash
    run_timed bash -c 'unix2dos -q -- "$1" && md5sum -- "$1"' _ "$1"
}
mac2unix_unix2dos_md5() { # lone CR -> LF -> CR LF, then md5sum
    # shellcheck disable=SC2016
    run_timed bash -c 'mac2unix -q -- "$1" && unix2dos -q -- "$1" && md5sum -- "$1"' _ "$1"
}

median() { # VALUES... (microseconds, may be fractional)
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
        END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

max_of() {
    printf '%s\n' "$@" | sort -g | tail -n 1
}

# A sealing run that did nothing would look very fast, and korvik reports a
# failed check in ravlo.log rather than in its exit status.  So each -A run
# is checked by the size it must produce: every line end becomes CR LF and
# 32 hex digits are appended.
expect_size() { # FILE BYTES
    local got
    got=$(stat -c %s -- "$1")
    ((got == $2)) || die "korvik -A left $1 with $got bytes, expected $2"
}

# Result rows of the timing table (tab separated):
#   case, peer, korvik median us, peer median us, goal ratio, korvik RSS KiB,
#   and where measured korvik and peer median CPU time (user + system) us.
# CPU time depends much less on what else the machine runs than wall time.
rows=()
notes=()
add_row() {
    rows+=("$(printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s' "$1" "$2" "$3" "$4" "$5" "$6" "${7-}" "${8-}")")
}

# The ratios the goals table judges, by case key.
declare -A ratio=()
add_goal_row() { # KEY then the fields of add_row
    ratio[$1]=$(awk -v a="$4" -v b="$5" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')
    shift
    add_row "$@"
}

# --------------------------------------------------------------------------
# The cases.
# --------------------------------------------------------------------------
rss_v_small=0 # peak RSS of korvik -V on the --size inputs, KiB
rss_a_small=0 # same for korvik -A, over all sealing cases

# Verify: korvik -V must be at least as fast as md5sum reading the same
# file, since both hash every byte once.
case_verify() {
    note "case: verify $(human_bytes "$size") (korvik -V vs md5sum)"
    local k=() p=() r=() kc=() pc=() i
    warm sealed.txt
    for ((i = 0; i < pairs; i++)); do
        run_timed "$korvik" -V "$scratch/sealed.txt"
        k+=("$LAST_US") r+=("$LAST_KB") kc+=("$LAST_CPU")
        run_timed md5sum -- "$scratch/sealed.txt"
        p+=("$LAST_US") pc+=("$LAST_CPU")
    done
    rss_v_small=$(max_of "${r[@]}")
    add_goal_row verify "verify" "md5sum" "$(median "${k[@]}")" "$(median "${p[@]}")" 0.95 "$rss_v_small" \
        "$(median "${kc[@]}")" "$(median "${pc[@]}")"
}

# Sealing text that already ends every line in CR LF: korvik only has to
# hash and append, so it should cost hardly more than md5sum.
case_seal_crlf() {
    note "case: seal CR LF text (korvik -A vs md5sum)"
    local k=() p=() r=() kc=() pc=() i
    for ((i = 0; i < pairs; i++)); do
        fresh_copy crlf.txt work.txt
        run_timed "$korvik" -A "$scratch/work.txt"
        k+=("$LAST_US") r+=("$LAST_KB") kc+=("$LAST_CPU")
        expect_size work.txt "$((size + 32))"
        fresh_copy crlf.txt work.txt
        run_timed md5sum -- "$scratch/work.txt"
        p+=("$LAST_US") pc+=("$LAST_CPU")
    done
    rm -f work.txt
    rss_a_small=$(max_of "$rss_a_small" "${r[@]}")
    add_goal_row seal_crlf "seal CR LF text" "md5sum" "$(median "${k[@]}")" "$(median "${p[@]}")" 0.97 "$(max_of "${r[@]}")" \
        "$(median "${kc[@]}")" "$(median "${pc[@]}")"
}

# Sealing LF-only text.  For korvik a lone LF is not a line end, so the whole
# file is one long unterminated line: a CR LF gets added at the very end and
# the rest passes through.  unix2dos, in contrast, turns every LF into CR LF
# (a different result, but the tool a user would try first), which is why
# korvik is expected to be far cheaper than unix2dos + md5sum.
case_seal_lf() {
    note "case: seal LF-only text (korvik -A vs md5sum, vs unix2dos + md5sum)"
    local k=() p=() u=() r=() kc=() pc=() uc=() i
    for ((i = 0; i < pairs; i++)); do
        fresh_copy lf.txt work.txt
        run_timed "$korvik" -A "$scratch/work.txt"
        k+=("$LAST_US") r+=("$LAST_KB") kc+=("$LAST_CPU")
        # The final LF is no line end: CR LF is added after it.
        expect_size work.txt "$((size + 2 + 32))"
        fresh_copy lf.txt work.txt
        run_timed md5sum -- "$scratch/work.txt"
        p+=("$LAST_US") pc+=("$LAST_CPU")
        fresh_copy lf.txt work.txt
        unix2dos_md5 "$scratch/work.txt"
        u+=("$LAST_US") uc+=("$LAST_CPU")
        # unix2dos skips files it takes for binary; make sure it really
        # converted, or its timing would mean nothing.
        if ((i == 0)) && (($(stat -c %s work.txt) <= size)); then
            die "unix2dos did not convert lf.txt (taken for binary?)"
        fi
    done
    rm -f work.txt
    rss_a_small=$(max_of "$rss_a_small" "${r[@]}")
    local km kcm
    km=$(median "${k[@]}")
    kcm=$(median "${kc[@]}")
    add_goal_row seal_lf "seal LF-only text" "md5sum" "$km" "$(median "${p[@]}")" 1.0 "$(max_of "${r[@]}")" \
        "$kcm" "$(median "${pc[@]}")"
    add_row "seal LF-only text" "unix2dos+md5sum" "$km" "$(median "${u[@]}")" "" "$(max_of "${r[@]}")" \
        "$kcm" "$(median "${uc[@]}")"
}

# Sealing text whose lines end in a lone CR: korvik turns each into CR LF.
# The peer is what a user would type to get CR LF line ends, unix2dos on the
# file and then md5sum.  Note: unix2dos (dos2unix 7.4.x) only converts LF to
# CR LF and leaves a lone CR as it is, so on this file it reads and rewrites
# everything without changing a byte -- it does less than korvik.  Getting
# real CR LF out of the dos2unix package takes mac2unix (CR -> LF) first and
# then unix2dos; that pair is timed as well, for information.
case_seal_cr() {
    note "case: seal lone-CR text (korvik -A vs unix2dos + md5sum)"
    local k=() u=() m=() r=() kc=() uc=() mc=() i
    for ((i = 0; i < pairs; i++)); do
        fresh_copy cr.txt work.txt
        run_timed "$korvik" -A "$scratch/work.txt"
        k+=("$LAST_US") r+=("$LAST_KB") kc+=("$LAST_CPU")
        expect_size work.txt "$((size + cr_count + 32))"
        fresh_copy cr.txt work.txt
        unix2dos_md5 "$scratch/work.txt"
        u+=("$LAST_US") uc+=("$LAST_CPU")
        if ((i == 0)) && (($(stat -c %s work.txt) == size)); then
            notes+=("unix2dos left the lone CRs of cr.txt unchanged (it only converts LF)")
        fi
        fresh_copy cr.txt work.txt
        mac2unix_unix2dos_md5 "$scratch/work.txt"
        m+=("$LAST_US") mc+=("$LAST_CPU")
    done
    rm -f work.txt
    rss_a_small=$(max_of "$rss_a_small" "${r[@]}")
    local km kcm
    km=$(median "${k[@]}")
    kcm=$(median "${kc[@]}")
    add_goal_row seal_cr "seal lone-CR text" "unix2dos+md5sum" "$km" "$(median "${u[@]}")" 0.35 "$(max_of "${r[@]}")" \
        "$kcm" "$(median "${uc[@]}")"
    add_row "seal lone-CR text" "mac2unix+unix2dos+md5sum" "$km" "$(median "${m[@]}")" "" "$(max_of "${r[@]}")" \
        "$kcm" "$(median "${mc[@]}")"
}

# Many runs on a tiny file: here start-up cost (loading korvik.DLL, opening
# ravlo.log) dominates.  A whole batch is timed and divided, without
# /usr/bin/time in between, so only the programs' own start-up counts.
batch_us() { # RUNS CMD ARGS... -> prints microseconds per invocation
    local n=$1 i t0 t1
    shift
    t0=$EPOCHREALTIME
    for ((i = 0; i < n; i++)); do
        "$@" >/dev/null 2>"$err_file" || {
            show_failure "$* (run $i of a batch)"
            exit 1
        }
    done
    t1=$EPOCHREALTIME
    awk -v d="$((${t1/./} - ${t0/./}))" -v n="$n" 'BEGIN { printf "%.3f", d / n }'
}

case_small() {
    note "case: $small_runs x verify of a 1 KiB sealed file (korvik -V vs md5sum)"
    local k=() p=() i
    warm small.txt
    for ((i = 0; i < pairs; i++)); do
        k+=("$(batch_us "$small_runs" "$korvik" -V "$scratch/small.txt")")
        p+=("$(batch_us "$small_runs" md5sum -- "$scratch/small.txt")")
    done
    run_timed "$korvik" -V "$scratch/small.txt"
    add_goal_row small "verify 1 KiB, per run" "md5sum" "$(median "${k[@]}")" "$(median "${p[@]}")" 1.10 "$LAST_KB"
}

# drop_cache FILES...: evict the files' pages from the page cache
# (posix_fadvise POSIX_FADV_DONTNEED; GNU dd does that for the whole file
# with iflag=nocache count=0).  Only clean pages go, so new copies are
# synced first (fresh_copy does).  On a virtual machine the host may still
# cache the disk, so "cold" can be warmer than on real hardware.
drop_cache() {
    local f
    for f; do
        dd if="$f" iflag=nocache count=0 status=none
    done
}

# The same verification and CR LF sealing with nothing of the input in the
# page cache, for both korvik and md5sum.  For information: these show
# whether korvik keeps up with the disk, and whether reading and hashing
# overlap.
case_cold() {
    if ((skip_cold)); then
        notes+=("cold-cache cases skipped (--skip-cold)")
        return
    fi
    note "case: cold cache, verify and seal CR LF text (korvik vs md5sum)"
    local kv=() pv=() rv=() ka=() pa=() ra=() i
    for ((i = 0; i < pairs; i++)); do
        drop_cache sealed.txt
        run_timed "$korvik" -V "$scratch/sealed.txt"
        kv+=("$LAST_US") rv+=("$LAST_KB")
        drop_cache sealed.txt
        run_timed md5sum -- "$scratch/sealed.txt"
        pv+=("$LAST_US")
        fresh_copy crlf.txt work.txt
        drop_cache work.txt
        run_timed "$korvik" -A "$scratch/work.txt"
        ka+=("$LAST_US") ra+=("$LAST_KB")
        expect_size work.txt "$((size + 32))"
        fresh_copy crlf.txt work.txt
        drop_cache work.txt
        run_timed md5sum -- "$scratch/work.txt"
        pa+=("$LAST_US")
    done
    rm -f work.txt
    rss_v_small=$(max_of "$rss_v_small" "${rv[@]}")
    rss_a_small=$(max_of "$rss_a_small" "${ra[@]}")
    add_row "verify, cold cache" "md5sum, cold" "$(median "${kv[@]}")" "$(median "${pv[@]}")" "" "$(max_of "${rv[@]}")"
    add_row "seal CR LF text, cold cache" "md5sum, cold" "$(median "${ka[@]}")" "$(median "${pa[@]}")" "" "$(max_of "${ra[@]}")"
}

# One -V run on the 1 KiB file with the current directory in a folder of
# --crowd empty files, against the same in a folder holding only that file
# (and ravlo.log).  A run must not cost more because its folder is big.
case_crowd() {
    if ((skip_crowd)); then
        notes+=("folder-size case skipped (--skip-crowd)")
        return
    fi
    note "case: verify 1 KiB in a folder of $crowd files vs in an empty folder (making the files)"
    mkdir crowd lone
    cp small.txt crowd/small.txt
    cp small.txt lone/small.txt
    (cd crowd && seq -f 'f%07.0f' "$crowd" | xargs touch --)
    local got
    got=$(find crowd -maxdepth 1 -type f -name 'f*' | wc -l)
    ((got == crowd)) || die "made $got files in the crowded folder, wanted $crowd"
    warm crowd/small.txt lone/small.txt
    local c=() e=() i
    for ((i = 0; i < pairs; i++)); do
        c+=("$(cd crowd && batch_us "$small_runs" "$korvik" -V "$scratch/crowd/small.txt")")
        e+=("$(cd lone && batch_us "$small_runs" "$korvik" -V "$scratch/lone/small.txt")")
    done
    cd crowd
    run_timed "$korvik" -V "$scratch/crowd/small.txt"
    cd "$scratch"
    add_goal_row crowd "verify 1 KiB, $crowd files in folder" "same, empty folder" \
        "$(median "${c[@]}")" "$(median "${e[@]}")" 1.2 "$LAST_KB"
    note "  removing the crowded folder"
    rm -rf crowd lone
}

# Verification where there is no room to write anything: the sealed file
# sits on a small tmpfs that is then filled up, and TMPDIR points into the
# same full tmpfs.  korvik runs from a folder elsewhere so that ravlo.log
# can be written; the message it logs is the result.
full_msg=""    # the message of the run, or empty
full_reason="" # why the case did not run
case_full() {
    if ((skip_full)); then
        full_reason="skipped (--skip-full)"
    elif ((EUID != 0)); then
        full_reason="skipped: mounting a tmpfs needs root"
    fi
    if [[ -n $full_reason ]]; then
        notes+=("full-volume case $full_reason")
        return
    fi
    note "case: verify a 6 MiB sealed file on a full 8 MiB tmpfs, TMPDIR full too"
    mkdir full fullrun
    if ! mount -t tmpfs -o size=8m,mode=0755 korvik-bench "$scratch/full" 2>"$err_file"; then
        full_reason="skipped: mount -t tmpfs failed: $(tr '\n' ' ' <"$err_file")"
        notes+=("full-volume case $full_reason")
        note "${notes[-1]}"
        return
    fi
    full_mnt="$scratch/full"
    make_text fullrun/body.txt "$((6 * MIB - 32))" crlf
    run_timed "$korvik" -A "$scratch/fullrun/body.txt"
    expect_size fullrun/body.txt "$((6 * MIB))"
    cp fullrun/body.txt full/sealed.txt
    rm -f fullrun/body.txt
    check_trailer full/sealed.txt
    mkdir full/tmp
    # Fill what is left; head stops with "No space left on device".
    head -c 16m /dev/zero >full/filler 2>/dev/null || true
    local avail
    avail=$(df --output=avail -B1 -- "$full_mnt" | tail -n 1 | tr -d ' ')
    ((avail == 0)) || die "the full-volume tmpfs still has $avail bytes free"
    local rc=0
    (cd fullrun && TMPDIR="$full_mnt/tmp" "$korvik" -V "$full_mnt/sealed.txt") \
        >/dev/null 2>"$err_file" || rc=$?
    # The message runs from "Message : " to the end line of the run log and
    # may span lines; they are joined with a space.
    full_msg=$(tr -d '\r' <fullrun/ravlo.log 2>/dev/null | awk '
        /^Message : / { m = substr($0, 11); on = 1; next }
        /^Korvik Checksum Utility : Ended/ { on = 0 }
        on { sub(/ +$/, "", m); m = m " " $0 }
        END { print m }') || true
    [[ -n $full_msg ]] || full_msg="(no message in ravlo.log, exit status $rc)"
    note "  logged: $full_msg"
    umount -- "$full_mnt"
    full_mnt=""
    rm -rf full fullrun
}

# Peak memory must not grow with the file: seal and verify a big CR LF file
# and compare with the --size runs.
rss_v_big=""
rss_a_big=""
case_big() {
    if ((skip_big)); then
        notes+=("big-file memory case skipped (--skip-big)")
        return
    fi
    # The file itself plus room for a temporary copy korvik -A might write.
    local need avail
    need=$((2 * big_size + 64 * MIB))
    avail=$(free_bytes)
    if ((avail < need)); then
        notes+=("big-file memory case skipped: needs $(human_bytes "$need") free, $(human_bytes "$avail") available")
        note "${notes[-1]}"
        return
    fi
    note "case: peak memory on $(human_bytes "$big_size") (generating input)"
    make_text big.txt "$big_size" crlf
    sync
    run_timed "$korvik" -A "$scratch/big.txt"
    rss_a_big=$LAST_KB
    expect_size big.txt "$((big_size + 32))"
    note "  korvik -A: $(human_bytes "$big_size") in $(awk -v u="$LAST_US" 'BEGIN { printf "%.2f s", u / 1e6 }')"
    # The file is sealed now: verify it.
    run_timed "$korvik" -V "$scratch/big.txt"
    rss_v_big=$LAST_KB
    note "  korvik -V: $(human_bytes "$big_size") in $(awk -v u="$LAST_US" 'BEGIN { printf "%.2f s", u / 1e6 }')"
    rm -f big.txt
}

# --------------------------------------------------------------------------
# Report.
# --------------------------------------------------------------------------

# Aligned columns from tab-separated lines; awk's length() counts bytes, so
# the table sticks to ASCII.
align() {
    awk -F '\t' '{
        for (i = 1; i <= NF; i++) { c[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) }
        if (NF > nf) nf = NF
    } END {
        for (r = 1; r <= NR; r++) {
            line = ""
            for (i = 1; i <= nf; i++) line = line sprintf(i < nf ? "%-" w[i] "s  " : "%s", c[r, i])
            print line
        }
    }'
}

unmet=0
print_report() {
    local body
    body=$(printf '%s\n' "${rows[@]}" | awk -F '\t' '
        function t(us) {
            if (us >= 1e6) return sprintf("%.3f s", us / 1e6)
            if (us >= 1e3) return sprintf("%.3f ms", us / 1e3)
            return sprintf("%.1f us", us)
        }
        BEGIN { OFS = "\t"; print "case", "peer", "korvik", "peer time", "ratio", "goal", "korvik RSS", "result", "CPU ratio" }
        {
            ratio = $4 > 0 ? $3 / $4 : 0
            if ($5 == "") { goal = "(info)"; res = "-" }
            else { goal = "<= " $5 "x"; res = (ratio <= $5 + 0) ? "met" : "NOT met" }
            cpu = ($7 != "" && $8 > 0) ? sprintf("%.3fx (%s / %s)", $7 / $8, t($7), t($8)) : "-"
            print $1, $2, t($3), t($4), sprintf("%.3fx", ratio), goal, sprintf("%.1f MiB", $6 / 1024), res, cpu
        }')
    printf '\nkorvik: %s\ninputs: %s, %d pair(s) per case, %d runs per 1 KiB batch\n\n' \
        "$korvik" "$(human_bytes "$size")" "$pairs" "$small_runs"
    printf '%s\n' "$body" | align
    grep -q 'NOT met' <<<"$body" && unmet=1

    # Memory: at most 16 MiB, and no growth from --size to --big-size.  "The
    # same" allows 1 MiB of jitter (allocator, page tables).
    local mem
    mem=$(awk -v vs="$rss_v_small" -v as="$rss_a_small" -v vb="$rss_v_big" -v ab="$rss_a_big" \
        -v sl="$(human_bytes "$size")" -v bl="$(human_bytes "$big_size")" '
        function m(k) { return k == "" ? "skipped" : sprintf("%.1f MiB", k / 1024) }
        function row(name, s, b,   ok) {
            ok = (s <= 16384) && (b == "" || (b <= 16384 && b - s <= 1024))
            print name, m(s), m(b), "<= 16 MiB, same at both sizes", (ok ? "met" : "NOT met") (b == "" ? " (small size only)" : "")
        }
        BEGIN {
            OFS = "\t"
            print "peak RSS", "at " sl, "at " bl, "goal", "result"
            row("korvik -V", vs, vb)
            row("korvik -A", as, ab)
        }')
    printf "\n"
    printf "%s\n" "$mem" | align
    grep -q 'NOT met' <<<"$mem" && unmet=1

    if ((${#notes[@]})); then
        printf '\n'
        printf 'note: %s\n' "${notes[@]}"
    fi
    return 0
}

# The goals, one row each, as a Markdown table.
print_goals() {
    local peak
    peak=$(max_of "$rss_v_small" "$rss_a_small" ${rss_v_big:+"$rss_v_big"} ${rss_a_big:+"$rss_a_big"})
    printf '\ngoals (timed inputs of %s):\n\n' "$(human_bytes "$size")"
    printf '| case | goal | measured | result |\n|---|---|---|---|\n'
    goal_ratio "verify 1 GiB, against md5sum" 0.95 verify
    goal_ratio "seal 1 GiB CR LF text (no rewrite), against md5sum" 0.97 seal_crlf
    goal_ratio "seal 1 GiB LF-only text, against md5sum" 1.0 seal_lf
    goal_ratio "seal 1 GiB lone-CR text, against unix2dos + md5sum" 0.35 seal_cr
    goal_ratio "one -V run on 1 KiB, against md5sum" 1.10 small
    goal_ratio "one -V run in a folder of 200,000 files, against one in an empty folder" 1.2 crowd
    local want="Checksum Matches File Contents." res
    if [[ -n $full_reason ]]; then
        res=$full_reason
    elif [[ $full_msg == "$want" ]]; then
        res=met
    else
        res="NOT met"
        unmet=1
    fi
    goal_line "verify with no free space on the volume and a full TMPDIR" "\"$want\"" \
        "${full_msg:+\"$full_msg\"}" "$res"
    if ((peak <= 16384)); then res=met; else res="NOT met" unmet=1; fi
    goal_line "peak memory, any size" "≤ 16 MiB" "$(awk -v k="$peak" 'BEGIN { printf "%.1f MiB", k / 1024 }')" "$res"
}

goal_line() { # CASE GOAL MEASURED RESULT
    printf '| %s | %s | %s | %s |\n' "$1" "$2" "${3:--}" "${4//|/\\|}"
}

goal_ratio() { # CASE LIMIT KEY
    local got=${ratio[$3]-} res
    if [[ -z $got ]]; then
        goal_line "$1" "≤ $2×" "" "skipped"
        return
    fi
    res=$(awk -v m="$got" -v g="$2" 'BEGIN { print (m <= g + 0) ? "met" : "NOT met" }')
    [[ $res == met ]] || unmet=1
    goal_line "$1" "≤ $2×" "$got×" "$res"
}

# --------------------------------------------------------------------------
# Main.
# --------------------------------------------------------------------------
note "korvik: $korvik"
note "scratch: $scratch"
note "generating inputs of $(human_bytes "$size")"
make_text crlf.txt "$size" crlf
make_text lf.txt "$size" lf
make_text cr.txt "$size" cr

# The sealed input for -V is a copy of the CR LF text sealed once by korvik
# itself; sealing text that is all CR LF lines adds just the 32-byte trailer.
cp --reflink=never crlf.txt sealed.txt
run_timed "$korvik" -A "$scratch/sealed.txt"
expect_size sealed.txt "$((size + 32))"

# check_trailer FILE: the last 32 bytes must be the MD5 of the rest.  Done
# here with md5sum because korvik -V answers a mismatch in ravlo.log, not in
# its exit status, and timing a verify that fails early would mean nothing.
check_trailer() {
    [[ $(head -c -32 -- "$1" | md5sum | cut -c 1-32) == "$(tail -c 32 -- "$1")" ]] ||
        die "trailer of $1 is not the MD5 of the text before it"
}
check_trailer sealed.txt

# 1 KiB once sealed.
make_text small.txt 992 crlf
run_timed "$korvik" -A "$scratch/small.txt"
expect_size small.txt 1024
check_trailer small.txt

# Each lone CR of cr.txt gains an LF when sealed.
cr_count=$(tr -cd '\r' <cr.txt | wc -c)
sync

case_verify
case_seal_crlf
case_seal_lf
case_seal_cr
case_small
case_cold
case_crowd
case_full
# The --size inputs are not needed any more; free the room for the big file.
rm -f crlf.txt lf.txt cr.txt sealed.txt
case_big

print_report
print_goals
if ((strict && unmet)); then
    exit 3
fi
