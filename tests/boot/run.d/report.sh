# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# boot: the report a boot writes, cut into sections, and the checks on it;
# check and eq are the shell library's. Sourced by the runner.
# shellcheck source=../../../scripts/lib/sh.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/lib/sh.sh"

# Cuts report.log in $1 into $1/report/NAME, one file a section; a section
# "show UNIT" goes to "show_UNIT". Fails when the report is not complete.
report_split() {
    local dir=$1
    rm -rf "$dir/report"
    mkdir -p "$dir/report"
    awk -v d="$dir/report" '
        $0 == "@@ begin" { on = 1; next }
        $0 == "@@ end" { done = 1; exit }
        on && /^@@ section / { f = d "/" substr($0, 12); gsub(/ /, "_", f); printf "" > f; next }
        on && f != "" { print >> f }
        END { exit done ? 0 : 1 }' "$dir/report.log"
}

# report FILE: the path of a section of the current boot's report.
report() { echo "$boot_dir/report/${1// /_}"; }

# prop UNIT KEY: a property of UNIT as systemctl show gave it.
prop() {
    sed -n "s/^$2=//p" "$(report "show $1")"
}

# Seconds, with one decimal, from a monotonic time stamp in microseconds.
usec_s() { awk -v u="$1" 'BEGIN { printf "%.1f", u / 1000000 }'; }

# in_journal UNIT LINE: the unit's journal holds LINE as a whole line.
in_journal() { grep -qxF -- "$2" "$(report "journal $1")"; }
# not_in_journal UNIT TEXT: no line of the unit's journal holds TEXT.
not_in_journal() { ! grep -F -- "$2" "$(report "journal $1")"; }
# count_in_journal UNIT LINE: how often.
count_in_journal() { grep -cxF -- "$2" "$(report "journal $1")" || true; }
# none_failed: systemctl --failed lists nothing.
none_failed() {
    [[ ! -s $(report failed) ]] || {
        cat "$(report failed)"
        return 1
    }
}
# only_failed UNIT: systemctl --failed lists UNIT and nothing else.
only_failed() {
    [[ $(awk '{ print $1 }' "$(report failed)") == "$1" ]] || {
        cat "$(report failed)"
        return 1
    }
}
# before UNIT_A KEY_A UNIT_B KEY_B: A's time stamp is set and not later than B's.
before() {
    local a b
    a=$(prop "$1" "$2") b=$(prop "$3" "$4")
    ((a > 0 && b > 0 && a <= b)) || {
        echo "$1 $2=$a, $3 $4=$b"
        return 1
    }
}

# report_summary [FACTS]: the closing line, and one line for the step's log
# in $boot_dir/summary.
report_summary() {
    echo "$case_name: ${1:+$1; }VM ${vm_seconds} s; $checks_passed passed, $checks_failed failed" \
        >"$boot_dir/summary"
    check_summary "$case_name"
}
