# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# What the shell tests share: a failure is counted and the test goes on.

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
expect_line() { # FILE TEXT WHAT
    grep -qF -- "$2" "$1" || {
        fail "$3: no line with \"$2\"; stderr was:"
        sed 's/^/    /' "$1" >&2
    }
}
