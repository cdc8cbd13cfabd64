# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Checks of the manual page: lint, rendering, every line the tool writes,
# README's recipes, and the mdev lines of both documents.
# Sourced by .ci/steps/package.sh, which defines check, die, SRC and TMP.

MAN=$SRC/man/pixvane.8

man_lint() {
    local out
    # Warnings and errors; style notes such as manuals not installed on this
    # machine are not faults of the page.
    out=$(mandoc -Tlint -W warning "$MAN" 2>&1) || die "mandoc -Tlint failed: $out"
    [[ -z $out ]] || die "mandoc -Tlint: $out"
    out=$(groff -mdoc -ww -z "$MAN" 2>&1) || die "groff failed: $out"
    [[ -z $out ]] || die "groff -ww: $out"
}

# The sections a reader looks for, as headings at the left margin.
man_renders() {
    local text section
    text=$(MANWIDTH=80 mandoc -Tutf8 "$MAN" | col -b)
    for section in NAME SYNOPSIS DESCRIPTION OUTPUT FILES "EXIT STATUS" EXAMPLES BOOT \
        "SEE ALSO" CAVEATS; do
        grep -qx "$section" <<<"$text" || die "rendered page has no $section section"
    done
    grep -q '^ *pixvane \[bpp\]$' <<<"$text" || die "synopsis is not 'pixvane [bpp]'"
}

# Every line the program can write, taken from its sources, is quoted in the
# page letter for letter; printf conversions stand for a word such as
# "wanted". A message changed in the code but not here fails.
man_documents_every_line() {
    local text msg re n=0
    # Quotes around a quoted line render as ` and ' in ASCII.
    local before='(^|[[:space:]`])' after="([[:space:]'.,]|$)"
    text=$(mandoc -Tascii -O width=200 "$MAN" | col -b)
    while IFS= read -r msg; do
        msg=${msg#\"}
        msg=${msg%\"}
        msg=${msg%\\n}
        # Literal text as a regular expression, then %d, %u, %p as a word.
        re=$(sed -e 's/[][\.*^$/]/\\&/g' -e 's/[()]/\\&/g' <<<"$msg")
        re=${re//%d/[a-z]+}
        re=${re//%u/[a-z]+}
        re=${re//%p/[a-z]+}
        grep -Eq -- "$before$re$after" <<<"$text" ||
            die "the page does not quote the line: $msg"
        n=$((n + 1))
    done < <(grep -ohE '"(Pixvane by |QUIL_VO: )[^"]*"' "$SRC"/app/*.cpp "$SRC"/vo/*.cpp | sort -u)
    ((n >= 12)) || die "found only $n message lines in app/ and vo/"
}

# Every script README gives (the blocks after "<!-- recipe: ... -->",
# "<!-- board: ... -->" and "<!-- look: ... -->", which the tests run) is in
# the page too, line for line, so that the two cannot drift apart.
man_has_readme_recipes() {
    local text n=0 line
    text=$(mandoc -Tascii -O width=200 "$MAN" | col -bx | sed 's/^ *//')
    while IFS= read -r line; do
        line=${line#"${line%%[! ]*}"}
        [[ -n $line ]] || continue
        grep -qxF -- "$line" <<<"$text" || die "the page lacks README's recipe line: $line"
        n=$((n + 1))
    done < <(awk '/^<!-- (recipe|board|look): .* -->$/ { on = 1; next }
        on && /^    / { sub(/^    /, ""); print; next }
        on && NF { on = 0 }' "$SRC/README.md")
    ((n >= 8)) || die "found only $n recipe lines in README.md"
}

# The mdev lines README and the page give are the shipped dist/mdev.conf's,
# which the kernel tests and the mdev check run, in the same order.
docs_give_the_mdev_lines() {
    local shipped text doc
    shipped=$(grep -v -e '^#' -e '^$' "$SRC/dist/mdev.conf")
    [[ $(wc -l <<<"$shipped") -ge 2 ]] || die "dist/mdev.conf holds fewer than two lines"
    for doc in README man; do
        if [[ $doc == README ]]; then
            text=$(sed 's/^ *//' "$SRC/README.md")
        else
            text=$(mandoc -Tascii -O width=200 "$MAN" | col -bx | sed 's/^ *//')
        fi
        grep -A1 -xF -- "$(head -n1 <<<"$shipped")" <<<"$text" | grep -qxF -- "$(sed -n 2p <<<"$shipped")" ||
            die "$doc does not give dist/mdev.conf's lines, in order: $shipped"
    done
}

check "man page lints clean (mandoc -Tlint, groff -ww)" man_lint
check "man page renders with its sections" man_renders
check "man page quotes every line the tool writes" man_documents_every_line
check "man page holds README's recipes line for line" man_has_readme_recipes
check "README and the man page give dist/mdev.conf's lines" docs_give_the_mdev_lines
