#!/usr/bin/env python3
"""Reads what bench/run.sh measured and prints the tables and the goals.

   goals.py RESULTS-DIR KORVIK

RESULTS-DIR holds hyperfine's JSON, CASE.ROUND.json, one file per round of a
case, and facts.tsv, the lines "key<TAB>value" of everything else. Exits
with status 3 when a goal is not met.
"""
import collections
import glob
import json
import os
import statistics
import sys

results, korvik = sys.argv[1:3]
facts = collections.defaultdict(list)
with open(os.path.join(results, "facts.tsv")) as lines:
    for line in lines:
        key, _, value = line.rstrip("\n").partition("\t")
        facts[key].append(value)


def fact(key, default=None):
    return facts[key][-1] if facts[key] else default


def runs(case):
    """Wall times and CPU times (user + system) per command over all rounds."""
    wall, cpu = collections.defaultdict(list), collections.defaultdict(list)
    for path in sorted(glob.glob(os.path.join(results, case + ".*.json"))):
        with open(path) as file:
            for result in json.load(file)["results"]:
                wall[result["command"]] += result["times"]
                cpu[result["command"]] += [result["user"] + result["system"]] * len(result["times"])
    return wall, cpu


def seconds(t):
    return f"{t:.3f} s" if t >= 1 else f"{t * 1e3:.3f} ms" if t >= 1e-3 else f"{t * 1e6:.1f} us"


def human(n):
    n = int(n)
    return f"{n / 2**30:.2f} GiB" if n >= 2**30 else f"{n / 2**20:.1f} MiB" if n >= 2**20 else f"{n} bytes"


unmet = False
ratios = {}  # the ratio each goal judges, by case
rows = [("case", "peer", "korvik", "peer time", "ratio", "goal", "result", "CPU ratio")]


def compare(case, label, peer, goal=None, subject="korvik"):
    wall, cpu = runs(case)
    if subject not in wall or peer not in wall:
        return
    k, p = statistics.median(wall[subject]), statistics.median(wall[peer])
    kc, pc = statistics.mean(cpu[subject]), statistics.mean(cpu[peer])
    ratio = k / p
    if goal is not None:
        ratios[case] = ratio
    result = "-" if goal is None else "met" if ratio <= float(goal) else "NOT met"
    rows.append((label, peer, seconds(k), seconds(p), f"{ratio:.3f}x",
                 "(info)" if goal is None else f"<= {goal}x", result, f"{kc / pc:.3f}x"))


compare("verify", "verify", "md5sum", "0.95")
compare("seal_crlf", "seal CR LF text", "md5sum", "0.97")
compare("seal_lf", "seal LF-only text", "md5sum", "1.0")
compare("seal_lf", "seal LF-only text", "unix2dos+md5sum")
compare("seal_cr", "seal lone-CR text", "unix2dos+md5sum", "0.35")
compare("seal_cr", "seal lone-CR text", "mac2unix+unix2dos+md5sum")
compare("small", "verify 1 KiB, per run", "md5sum", "1.10")
compare("cold_verify", "verify, cold cache", "md5sum")
compare("cold_seal", "seal CR LF text, cold cache", "md5sum")
if facts["batch_crowd"]:
    # Batches of runs timed by /usr/bin/time: no CPU times.
    crowd = statistics.median(map(float, facts["batch_crowd"]))
    lone = statistics.median(map(float, facts["batch_lone"]))
    ratios["crowd"] = crowd / lone
    per_run = float(fact("crowd_runs"))
    rows.append((f"verify 1 KiB, {fact('crowd')} files in folder", "same, empty folder",
                 seconds(crowd / per_run), seconds(lone / per_run), f"{crowd / lone:.3f}x",
                 "<= 1.2x", "met" if crowd / lone <= 1.2 else "NOT met", "-"))


def table(rows):
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    for row in rows:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())


print(f"\nkorvik: {korvik}\ninputs: {human(fact('size'))}, "
      f"{len(runs('small')[0].get('korvik', []))} runs of each command in the 1 KiB case\n")
table(rows)
unmet |= any(row[6] == "NOT met" for row in rows)

# Peak memory: at most 16 MiB, and no growth with the file (1 MiB of slack
# for the allocator and page tables).
kib = {key[4:]: max(map(int, values)) for key, values in facts.items() if key.startswith("rss_")}
small = {"-V": kib.get("verify"), "-A": max((kib[k] for k in ("seal_crlf", "seal_lf", "seal_cr") if k in kib), default=None)}
big = {"-V": kib.get("big_verify"), "-A": kib.get("big_seal")}
mib = lambda k: "skipped" if k is None else f"{k / 1024:.1f} MiB"
memory = [("peak RSS", f"at {human(fact('size'))}", f"at {human(fact('big_size'))}", "goal", "result")]
for mode in ("-V", "-A"):
    s, b = small[mode], big[mode]
    ok = s <= 16384 and (b is None or (b <= 16384 and b - s <= 1024))
    memory.append((f"korvik {mode}", mib(s), mib(b), "<= 16 MiB, same at both sizes",
                   ("met" if ok else "NOT met") + (" (small size only)" if b is None else "")))
    unmet |= not ok
print()
table(memory)
for line in facts["note"]:
    print(f"note: {line}")

print(f"\ngoals (timed inputs of {human(fact('size'))}):\n")
print("| case | goal | measured | result |\n|---|---|---|---|")


def goal(case, limit, measured, met):
    global unmet
    if measured is None:
        result = "skipped"
    else:
        result = "met" if met else "NOT met"
        unmet |= not met
    print(f"| {case} | {limit} | {measured or '-'} | {result} |")


timed = human(fact("size"))
for case, label, limit in (
        ("verify", f"verify {timed}, against md5sum", "0.95"),
        ("seal_crlf", f"seal {timed} CR LF text (no rewrite), against md5sum", "0.97"),
        ("seal_lf", f"seal {timed} LF-only text, against md5sum", "1.0"),
        ("seal_cr", f"seal {timed} lone-CR text, against unix2dos + md5sum", "0.35"),
        ("small", "one -V run on 1 KiB, against md5sum", "1.10"),
        ("crowd", "one -V run in a folder of 200,000 files, against one in an empty folder", "1.2")):
    r = ratios.get(case)
    goal(label, f"≤ {limit}×", None if r is None else f"{r:.3f}×", r is not None and r <= float(limit))
want = "Checksum Matches File Contents."
if fact("full_skipped"):
    print(f"| verify with no free space on the volume and a full TMPDIR | \"{want}\" | - | "
          f"{fact('full_skipped').replace('|', '/')} |")
else:
    got = fact("full_message") or "(no message in ravlo.log)"
    goal("verify with no free space on the volume and a full TMPDIR", f'"{want}"', f'"{got}"', got == want)
peak = max(kib.values())
goal("peak memory, any size", "≤ 16 MiB", f"{peak / 1024:.1f} MiB", peak <= 16384)
sys.exit(3 if unmet else 0)
