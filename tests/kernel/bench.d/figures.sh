# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# bench: the checks of every run and the figures, from what the VM brought back.
# Sourced by bench, which defines dir, runs, warmup and keep.

# Each label is TOOL:DEPTH; the run must take the depth from the other one
# of 16 and 24 to DEPTH.
check "the timed runs all did what they should" awk -v runs="$runs" -v warmup="$warmup" -v times="$dir/times" '
function fail(msg) {
    if (++bad <= 10) print "run " seq ": " msg > "/dev/stderr"
    else if (bad == 11) print "(further failures not shown)" > "/dev/stderr"
}
# Splits an escaped capture into lines: lines[1..n], returns n.
function lines_of(text, lines,   n, i) {
    gsub(/\\\\/, "\001", text)
    n = split(text, lines, /\\n/)
    for (i = 1; i <= n; i++) gsub(/\001/, "\\", lines[i])
    return n
}
$1 == "clock" { res = $2; next }
$1 == "run" {
    if (NF != 9) { fail("bad record: " $0); next }
    seq = $2; label = $4; phase = $5; ns = $6; status = $7; before = $8; after = $9
    split(label, lp, ":"); tool = lp[1]; want = lp[2]
    from = (want == 24 || tool == "floor") ? 16 : 24
    if (before != from || after != want)
        fail(label ": depth " before " -> " after ", wanted " from " -> " want)
    if (tool != "fbset" && status != 1) fail(label ": exit status " status ", wanted 1")
    if (tool == "fbset" && status != 0) fail(label ": exit status " status ", wanted 0")
    if (phase == "timed") {
        count[tool]++; count[label]++
        print tool, label, ns > times
    } else if (phase == "warmup") {
        warm++
    } else fail("bad phase " phase)
    pending_tool = tool
    next
}
$1 == "out" || $1 == "err" {
    text = substr($0, length($1 " " $2 " ") + 1)
    if ($1 == "err" && text != "") fail(pending_tool " wrote on stderr: " text)
    if ($1 == "out" && pending_tool != "pixvane" && text != "")
        fail(pending_tool " wrote: " text)
    if ($1 == "out" && pending_tool == "pixvane") {
        n = lines_of(text, l); ok = 0
        for (i = 1; i <= n; i++) if (l[i] == "QUIL_VO: seted bpp on FB") ok = 1
        if (!ok) fail("pixvane did not print \"QUIL_VO: seted bpp on FB\": " text)
    }
    next
}
$1 == "end" { ended = $2; next }
{ fail("bad record: " $0) }
END {
    if (ended != runs / 2 * 5 + warmup * 5)
        { print "benchtimer reported " ended " runs, wanted " runs / 2 * 5 + warmup * 5 > "/dev/stderr"; bad = 1 }
    if (count["pixvane"] != runs || count["fbset"] != runs || count["floor"] != runs / 2 ||
        count["pixvane:24"] != runs / 2 || count["pixvane:16"] != runs / 2 ||
        count["fbset:24"] != runs / 2 || count["fbset:16"] != runs / 2)
        { print "missing timed runs" > "/dev/stderr"; bad = 1 }
    sub(/^res_ns=/, "", res)
    if (res == "" || res + 0 > 1000)
        { print "the VM clock resolution is " res " ns, too coarse" > "/dev/stderr"; bad = 1 }
    exit bad > 0
}' "$dir/stdout"

# The traced runs: the same checks, then pixvane's system calls.
check "the traced runs all did what they should" awk -v out="$dir/traced" '
function fail(msg) { print "traced " name ": " msg > "/dev/stderr"; bad = 1 }
/^@@ start / { next }
/^@@ clocksource / { print $3 > (out ".clocksource"); next }
/^@@ traced / {
    name = $3; sub(/^status=/, "", $4); sub(/^depth=/, "", $5)
    split(name, np, ":"); tool = np[1]; want = np[2]
    if ($5 != want) fail("depth " $5 " afterwards, wanted " want)
    if (tool ~ /^pixvane/ && $4 != 1) fail("exit status " $4 ", wanted 1")
    if (tool == "fbset" && $4 != 0) fail("exit status " $4 ", wanted 0")
    seen[name] = 1; next
}
/^@@ (stdout|stderr|trace)$/ { part = $2; next }
/^@@ end$/ {
    if (tool ~ /^pixvane/ && !seted) fail("no \"QUIL_VO: seted bpp on FB\"")
    part = ""; seted = 0; next
}
part == "stdout" && $0 == "QUIL_VO: seted bpp on FB" { seted = 1 }
part == "stderr" && $0 != "" { fail("stderr: " $0) }
part == "trace" { print name "\t" $0 > out }
part == "trace" && tool == "pixvane-tty" && ($0 ~ /^write\(1, "QUIL_VO: seted bpp on FB\\n", 25\) += 25$/ ||
    $0 ~ /^writev\(1, \[\{iov_base="QUIL_VO: seted bpp on FB\\n", iov_len=25\}(, \{iov_base=[^}]*, iov_len=0\})?\], [12]\) += 25$/ ||
    $0 ~ /^writev\(1, \[\{iov_base="QUIL_VO: seted bpp on FB", iov_len=24\}, \{iov_base="\\n", iov_len=1\}\], 2\) += 25$/) {
    seted = 1
}
END {
    if (!seen["pixvane:24"] || !seen["pixvane:16"] || !seen["fbset:24"] || !seen["fbset:16"] ||
        !seen["pixvane-tty:24"] || !seen["pixvane-tty:16"])
        { print "traced runs missing" > "/dev/stderr"; bad = 1 }
    exit bad
}' "$dir/setup.out"
check_summary || {
    [[ -n "$keep" ]] || note "(run again with --keep DIR to look at the raw results)"
    exit 1
}

median() { # label or tool; prints milliseconds
    awk -v k="$1" '$1 == k || $2 == k { print $3 }' "$dir/times" | sort -n |
        awk '{ v[NR] = $1 }
            END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
                  printf "%.3f", m / 1e6 }'
}
spread() { # label or tool; prints "min .. p90" in ms
    awk -v k="$1" '$1 == k || $2 == k { print $3 }' "$dir/times" | sort -n |
        awk '{ v[NR] = $1 }
            END { printf "%.3f .. %.3f", v[1] / 1e6, v[int(NR * 0.9 + 0.5)] / 1e6 }'
}
# System calls in a trace: every line that starts with a call's name
# (execve included, exit_group included; no signals, no "+++ exited").
syscalls() { # label
    awk -F'\t' -v k="$1" '$1 == k { print $2 }' "$dir/traced" |
        sed -n 's/^\([a-z_][a-z0-9_]*\)(.*/\1/p'
}
breakdown() { # label
    syscalls "$1" | awk '{ if (!($1 in n)) order[++k] = $1; n[$1]++ }
        END { for (i = 1; i <= k; i++) printf "%s%s %d", (i > 1 ? ", " : ""), order[i], n[order[i]]
              print "" }'
}

p=$(median pixvane) f=$(median fbset) z=$(median floor)
ratio=$(awk -v p="$p" -v f="$f" 'BEGIN { printf "%.2f", p / f }')
over() { awk -v t="$1" -v z="$z" 'BEGIN { printf "%.3f", t - z }'; }
pv_calls=$(syscalls pixvane:24 | wc -l) pv_calls_back=$(syscalls pixvane:16 | wc -l)
fb_calls=$(syscalls fbset:24 | wc -l) fb_calls_back=$(syscalls fbset:16 | wc -l)

printf 'pixvane against fbset -depth: vfb 640x480, 16<->24 bpp, x86_64 VM (%s, qemu TCG), one boot\n' \
    "$(sed -n 's/^id=//p' "$dir/fix")"
printf 'clock: CLOCK_MONOTONIC (clocksource %s at the start)\n' "$(cat "$dir/traced.clocksource")"
printf '%d runs each (%d each way) after %d warm-up rounds; every run checked\n\n' \
    "$runs" $((runs / 2)) "$warmup"
printf '%-14s %12s %12s %12s   %s\n' "per run, ms" median 16-\>24 24-\>16 "min .. p90"
printf '%-14s %12s %12s %12s   %s\n' pixvane "$p" "$(median pixvane:24)" "$(median pixvane:16)" \
    "$(spread pixvane)"
printf '%-14s %12s %12s %12s   %s\n' "fbset -depth" "$f" "$(median fbset:24)" "$(median fbset:16)" \
    "$(spread fbset)"
printf '%-14s %12s %12s %12s   %s\n' "spawn floor" "$z" "" "" "$(spread floor)"
printf '\nratio pixvane / fbset (medians): %s\n' "$ratio"
printf 'over the spawn floor (medians): pixvane %s ms, fbset %s ms, ratio %s\n\n' "$(over "$p")" \
    "$(over "$f")" "$(awk -v p="$p" -v f="$f" -v z="$z" 'BEGIN { printf "%.2f", (p - z) / (f - z) }')"
printf 'system calls in one run (strace in the VM, execve to exit_group):\n'
printf '  pixvane %d (16->24), %d (24->16): %s\n' "$pv_calls" "$pv_calls_back" \
    "$(breakdown pixvane:24)"
if [[ "$(breakdown pixvane:16)" != "$(breakdown pixvane:24)" ]]; then
    printf '          24->16: %s\n' "$(breakdown pixvane:16)"
fi
printf '  fbset   %d (16->24), %d (24->16): %s\n' "$fb_calls" "$fb_calls_back" \
    "$(breakdown fbset:24)"
printf '  pixvane with its output on a terminal: %d (16->24), %d (24->16): %s\n' \
    "$(syscalls pixvane-tty:24 | wc -l)" "$(syscalls pixvane-tty:16 | wc -l)" \
    "$(breakdown pixvane-tty:24)"
printf '\n%s: %d s in all\n' "$prog" $((SECONDS - started))
