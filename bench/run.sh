#!/usr/bin/env bash
# Benchmark of korvik against the tools a user would otherwise reach for
# (md5sum, unix2dos). hyperfine times the runs; /usr/bin/time gives peak
# memory and times the batches of the folder-size case; bench/goals.py reads
# the results and prints the tables. See bench/README.md.
set -euo pipefail
export LC_ALL=C

usage() {
    cat <<'EOF'
Usage: bench/run.sh [options]

  --build DIR        build tree holding bin/korvik (default: build/ of this
                     checkout)
  --korvik PATH      the korvik program to measure (overrides --build)
  --size BYTES       size of the timed inputs (default 1073741824 = 1 GiB)
  --pairs N          rounds per case; each round runs every command of the
                     case in turn, so korvik and its peers interleave
                     (default 3)
  --small-runs N     runs per command and pair in the 1 KiB case, in ten
                     rounds, and a fifth of a batch in the folder-size case
                     (default 200)
  --big-size BYTES   file size for the memory case (default 5 GiB)
  --skip-big         leave out the big-file memory case
  --crowd N          files in the crowded folder (default 200000)
  --skip-crowd       leave out the folder-size case
  --skip-cold        leave out the cold-cache cases
  --skip-full        leave out the full-volume case (needs root for a tmpfs)
  --scratch DIR      where the inputs go (default: mktemp -d under /var/tmp);
                     removed at the end
  --keep             keep the scratch folder (for looking at ravlo.log)
  --strict           exit with status 3 when a goal is not met
EOF
}

die() { printf 'run.sh: %s\n' "$*" >&2; exit 1; }
note() { printf '[bench] %s\n' "$*" >&2; }
number() { [[ $2 =~ ^[0-9]+$ ]] || die "$1 needs a whole number, got '$2'"; echo "$2"; }

size=1073741824 pairs=3 small_runs=200 big_size=$((5 << 30)) crowd=200000
skip_big=0 skip_crowd=0 skip_cold=0 skip_full=0 keep=0 strict=0
korvik="" build="" scratch_parent=""
while (($#)); do
    case $1 in
        --size) size=$(number "$1" "${2-}"); shift ;;
        --pairs) pairs=$(number "$1" "${2-}"); shift ;;
        --small-runs) small_runs=$(number "$1" "${2-}"); shift ;;
        --big-size) big_size=$(number "$1" "${2-}"); shift ;;
        --crowd) crowd=$(number "$1" "${2-}"); shift ;;
        --korvik) korvik=${2:?--korvik needs a path}; shift ;;
        --build) build=${2:?--build needs a folder}; shift ;;
        --scratch) scratch_parent=${2:?--scratch needs a folder}; shift ;;
        --skip-big) skip_big=1 ;;
        --skip-crowd) skip_crowd=1 ;;
        --skip-cold) skip_cold=1 ;;
        --skip-full) skip_full=1 ;;
        --keep) keep=1 ;;
        --strict) strict=1 ;;
        -h | --help) usage; exit 0 ;;
        *) usage >&2; die "unknown option '$1'" ;;
    esac
    shift
done
((pairs >= 1 && small_runs >= 1)) || die "--pairs and --small-runs must be at least 1"
((size >= 64 && big_size >= 64)) || die "--size and --big-size must be at least 64 bytes"

missing=()
for tool in hyperfine:hyperfine /usr/bin/time:time unix2dos:dos2unix mac2unix:dos2unix \
    python3:python3 mountpoint:util-linux md5sum:coreutils dd:coreutils; do
    command -v "${tool%:*}" >/dev/null || missing+=("${tool##*:}")
done
((${#missing[@]} == 0)) || die "missing tools; install them with: apt-get install -y ${missing[*]}"

here=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
[[ -n $korvik ]] || korvik="${build:-$here/../build}/bin/korvik"
# The runs start in the scratch folder: the path must not be relative.
korvik=$(realpath -m -- "$korvik")
[[ -x $korvik ]] || die "no runnable korvik at $korvik (build it first, or pass --build/--korvik)"

mkdir -p -- "${scratch_parent:=/var/tmp}"
scratch=$(mktemp -d "$(realpath -- "$scratch_parent")/korvik-bench.XXXXXX")
[[ $scratch != *[[:space:]]* ]] || die "the scratch folder's path must hold no spaces"
results=$scratch/results # hyperfine's JSON, and facts.tsv for the rest
full_mnt=""
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    # Never leave the tmpfs mounted, nor let rm descend into it.
    [[ -z $full_mnt ]] || ! mountpoint -q -- "$full_mnt" || umount -- "$full_mnt"
    if ((keep)); then note "scratch folder kept: $scratch"; else rm -rf -- "$scratch"; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
mkdir "$results"
cd -- "$scratch" # korvik writes ravlo.log into its current folder

free_bytes() { df --output=avail -B1 -- "${1:-$scratch}" | tail -n 1 | tr -d ' '; }
(($(free_bytes) >= 8 * size + (64 << 20))) || die "$scratch needs about 8 x --size bytes free"
fact() { printf '%s\t%s\n' "$1" "$2" >>"$results/facts.tsv"; }
size_of() { stat -c %s -- "$1"; }
expect_size() { (($(size_of "$1") == $2)) || die "$1 has $(size_of "$1") bytes, expected $2"; }

# make_text FILE BYTES crlf|lf|cr: text lines of varied length, every one
# ending in the given line end. A 64 KiB block repeated by yes and cut by
# head makes a 1 GiB file in seconds; the tail is generated to fit exactly.
lines() { # BYTES EOL: exactly BYTES of lines ending in EOL
    awk -v total="$1" -v e="$2" 'BEGIN {
        nw = split("the of checksum line file and text korvik data seal verify byte a to in is", w, " ")
        srand(7)
        for (left = total; left > 0; left -= n + length(e)) {
            n = rand() < 0.05 ? 0 : int(rand() * 100)
            r = left - n - length(e)
            if (r < 0 || (r > 0 && r < length(e))) n = left - length(e)
            for (s = ""; length(s) < n;) s = s w[int(rand() * nw) + 1] " "
            printf "%s%s", substr(s, 1, n), e
        } }'
}
make_text() {
    local eol=$'\n' blocks=$(($2 / 65536)) rest=$(($2 % 65536)) block
    [[ $3 == crlf ]] && eol=$'\r\n'
    # One byte cannot hold a CR LF: the last block goes to the tail.
    ((${#eol} == 1 || rest != 1)) || { blocks=$((blocks - 1)) rest=$((rest + 65536)); }
    block=$(lines 65536 "$eol"; echo .) # the dot keeps the last line end
    {
        # yes puts back the LF taken off here.
        ((blocks == 0)) || head -c "$((blocks * 65536))" < <(yes -- "${block%$'\n'.}")
        ((rest == 0)) || lines "$rest" "$eol"
    } | if [[ $3 == cr ]]; then tr '\n' '\r'; else cat; fi >"$1"
    expect_size "$1" "$2"
}

# The trailer must be the MD5 of the text before it: korvik -V reports a
# mismatch in ravlo.log, not in its status, so a bad input would go unseen.
check_trailer() {
    [[ $(head -c -32 -- "$1" | md5sum | cut -c 1-32) == "$(tail -c 32 -- "$1")" ]] ||
        die "the trailer of $1 is not the MD5 of the text before it"
}

# timed NAME ROUNDS RUNS HYPERFINE-ARGS...: one hyperfine call per round,
# so the commands of a case take turns; goals.py joins the rounds' runs.
# Each round starts with the next command (with its --prepare, if it has
# one of its own): hyperfine's first command of a call runs a little
# slower, and that must not always be the same one. The command in
# after_round checks each round's result.
after_round=(true)
timed() {
    local name=$1 rounds=$2 runs=$3 round i options=() commands=() command=""
    shift 3
    while (($#)); do
        case $1 in
            --prepare) command+="$(printf '%q %q ' "$1" "$2")" && shift 2 ;;
            -n) commands+=("$command$(printf '%q %q %q' "$1" "$2" "$3")") && command="" && shift 3 ;;
            *) options+=("$1") && shift ;;
        esac
    done
    for ((round = 0; round < rounds; round++)); do
        local turn=()
        for ((i = 0; i < ${#commands[@]}; i++)); do
            eval "turn+=(${commands[(round + i) % ${#commands[@]}]})"
        done
        # Its warnings about outliers go to the log: the medians bear them.
        hyperfine -N --style none --runs "$runs" --export-json "$results/$name.$round.json" \
            "${options[@]}" "${turn[@]}" >/dev/null 2>>"$results/hyperfine.log" ||
            die "hyperfine failed on case $name: $(tail -n 5 "$results/hyperfine.log")"
        "${after_round[@]}"
    done
}

# fresh SRC DST [cold]: the command that gives a sealing run a new, synced
# copy of its input, outside the timed region: read once, so it is cached,
# or with its pages dropped (only clean pages can be).
fresh() {
    local then="cat -- \$1 >/dev/null"
    [[ ${3-} != cold ]] || then="$(drop "\$1")"
    echo "bash -c 'cp --reflink=never -- \$0 \$1 && sync && $then' $1 $2"
}
drop() { echo "dd if=$1 iflag=nocache count=0 status=none"; } # evicts FILE's pages
two() { echo "bash -c '$1 -q -- \$0 && md5sum -- \$0' $2"; }    # TOOL FILE, then md5sum

# rss NAME CMD...: the peak memory of one run, in KiB.
rss() {
    local name=$1
    shift
    /usr/bin/time -f %M -o "$results/time.out" "$@" >/dev/null 2>"$results/stderr" ||
        die "failed: $* ($(tail -n 3 "$results/stderr"))"
    fact "rss_$name" "$(tail -n 1 "$results/time.out")"
}

note "korvik: $korvik; scratch: $scratch; generating inputs"
make_text crlf.txt "$size" crlf
make_text lf.txt "$size" lf
make_text cr.txt "$size" cr
cp --reflink=never crlf.txt sealed.txt
"$korvik" -A "$scratch/sealed.txt"
expect_size sealed.txt $((size + 32))
check_trailer sealed.txt
make_text small.txt 992 crlf
"$korvik" -A "$scratch/small.txt"
check_trailer small.txt
cr_count=$(tr -cd '\r' <cr.txt | wc -c)
cat sealed.txt small.txt >/dev/null
fact size "$size"
fact big_size "$big_size"

note "case: verify"
timed verify "$pairs" 1 -n korvik "$korvik -V $scratch/sealed.txt" -n md5sum "md5sum $scratch/sealed.txt"
rss verify "$korvik" -V "$scratch/sealed.txt"

# Each command works on a copy of its own, so korvik's result can be
# checked after each round. Sealing adds CR LF where a line lacks one, and
# the 32-digit trailer.
seal_case() { # NAME INPUT EXPECTED-SIZE PEER-COMMANDS...
    local name=$1 input=$2 want=$3
    shift 3
    note "case: seal $input"
    after_round=(expect_size k.txt "$want")
    timed "$name" "$pairs" 1 --prepare "$(fresh "$input" k.txt)" -n korvik "$korvik -A $scratch/k.txt" \
        --prepare "$(fresh "$input" p.txt)" -n md5sum "md5sum $scratch/p.txt" "$@"
    after_round=(true)
    cp --reflink=never "$input" k.txt
    rss "$name" "$korvik" -A "$scratch/k.txt"
    expect_size k.txt "$want"
}
seal_case seal_crlf crlf.txt $((size + 32))
seal_case seal_lf lf.txt $((size + 2 + 32)) \
    --prepare "$(fresh lf.txt u.txt)" -n unix2dos+md5sum "$(two unix2dos u.txt)"
# unix2dos takes files it thinks binary for no text at all.
(($(size_of u.txt) > size)) || die "unix2dos did not convert lf.txt"
seal_case seal_cr cr.txt $((size + cr_count + 32)) \
    --prepare "$(fresh cr.txt u.txt)" -n unix2dos+md5sum "$(two unix2dos u.txt)" \
    --prepare "$(fresh cr.txt m.txt)" -n mac2unix+unix2dos+md5sum \
    "bash -c 'mac2unix -q -- \$0 && unix2dos -q -- \$0 && md5sum -- \$0' m.txt"
# unix2dos converts only LF: on lone CRs it rewrites the file unchanged.
(($(size_of u.txt) > size)) || fact note "unix2dos left the lone CRs of cr.txt as they were"
rm -f k.txt p.txt u.txt m.txt

# Ten short rounds per pair: the runs take turns more often than the load
# of a busy machine changes.
note "case: $((pairs * small_runs)) runs on a 1 KiB file"
timed small $((10 * pairs)) $(((small_runs + 9) / 10)) --warmup 5 -n korvik "$korvik -V $scratch/small.txt" \
    -n md5sum "md5sum $scratch/small.txt"

if ((skip_cold)); then
    fact note "cold-cache cases skipped (--skip-cold)"
else
    note "case: cold cache"
    sync
    timed cold_verify "$pairs" 1 --prepare "$(drop sealed.txt)" -n korvik "$korvik -V $scratch/sealed.txt" \
        -n md5sum "md5sum $scratch/sealed.txt"
    timed cold_seal "$pairs" 1 --prepare "$(fresh crlf.txt k.txt cold)" \
        -n korvik "$korvik -A $scratch/k.txt" -n md5sum "md5sum $scratch/k.txt"
    rm -f k.txt
fi

# A run must not cost more because its folder holds many files. Batches of
# runs in each folder, by turns, timed by /usr/bin/time; it counts elapsed
# time in hundredths of a second, so a batch is long enough for that.
if ((skip_crowd)); then
    fact note "folder-size case skipped (--skip-crowd)"
else
    note "case: a folder of $crowd files (making them)"
    mkdir crowd lone
    cp small.txt crowd/
    cp small.txt lone/
    (cd crowd && seq -f 'f%07.0f' "$crowd" | xargs touch --)
    for ((round = 0; round < pairs; round++)); do
        for folder in crowd lone; do
            # shellcheck disable=SC2016 # $1 etc. belong to the inner bash
            (cd "$folder" && /usr/bin/time -f '%e' -o "$results/time.out" bash -c \
                'for ((i = 0; i < $1; i++)); do "$2" -V "$3" >/dev/null || exit; done' \
                _ "$((5 * small_runs))" "$korvik" "$scratch/$folder/small.txt") || die "korvik -V failed in $folder"
            fact "batch_$folder" "$(tail -n 1 "$results/time.out")"
        done
    done
    rm -rf crowd lone
    fact crowd "$crowd"
    fact crowd_runs $((5 * small_runs))
fi

# Verification with no room to write: the sealed file on a full tmpfs, and
# TMPDIR there too. korvik runs from elsewhere, so ravlo.log can be written;
# the message it logs is the result.
if ((skip_full)); then
    fact full_skipped "skipped (--skip-full)"
elif ((EUID != 0)); then
    fact full_skipped "skipped: mounting a tmpfs needs root"
elif mkdir full fullrun && mount -t tmpfs -o size=8m korvik-bench "$scratch/full" 2>"$results/stderr"; then
    note "case: verify on a full volume"
    full_mnt=$scratch/full
    make_text fullrun/body.txt $(((6 << 20) - 32)) crlf
    "$korvik" -A "$scratch/fullrun/body.txt"
    mv fullrun/body.txt full/sealed.txt
    check_trailer full/sealed.txt
    mkdir full/tmp
    head -c 16m /dev/zero >full/filler 2>/dev/null || true # until no space is left
    (($(free_bytes "$full_mnt") == 0)) || die "the full-volume tmpfs still has room"
    (cd fullrun && TMPDIR=$full_mnt/tmp /usr/bin/time -f %M -o "$results/time.out" \
        "$korvik" -V "$full_mnt/sealed.txt") >/dev/null 2>&1 || true
    # The message runs from "Message : " up to the run's end line.
    fact full_message "$(tr -d '\r' <fullrun/ravlo.log | sed -n '/^Message : /,/^Korvik Checksum Utility : Ended/p' |
        sed '$d; s/^Message : //; s/ *$//' | paste -sd ' ')"
    umount -- "$full_mnt"
    full_mnt=""
    rm -rf full fullrun
else
    fact full_skipped "skipped: mount -t tmpfs failed: $(tr '\n' ' ' <"$results/stderr")"
fi

# Peak memory must not grow with the file.
rm -f crlf.txt lf.txt cr.txt sealed.txt
if ((skip_big)); then
    fact note "big-file memory case skipped (--skip-big)"
elif (($(free_bytes) < 2 * big_size + (64 << 20))); then
    fact note "big-file memory case skipped: it needs $((2 * big_size >> 20)) MiB free"
else
    note "case: peak memory on $big_size bytes (generating input)"
    make_text big.txt "$big_size" crlf
    rss big_seal "$korvik" -A "$scratch/big.txt"
    expect_size big.txt $((big_size + 32))
    rss big_verify "$korvik" -V "$scratch/big.txt"
    rm -f big.txt
fi

status=0
python3 "$here/goals.py" "$results" "$korvik" || status=$?
((status == 0 || status == 3)) || exit "$status"
((strict && status == 3)) && exit 3
exit 0
