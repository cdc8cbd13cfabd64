# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Checks of the manual page: lint, its shape as rendered, every line the tool
# writes, README's recipes, and the mdev lines and udev rule it shows.
# Sourced by .ci/steps/package.sh, which defines check, die, SRC and TMP.

MAN=$SRC/man/pixvane.8

# man_display KIND NAME: the literal display (.Bd -literal ... .Ed) right
# after the comment line '.\" KIND: NAME', as it renders: \- is -, \e a
# backslash, \& nothing. Fails when the page has none.
man_display() {
    local marker=".\\\" $1: $2" line state=out
    while IFS= read -r line; do
        case $state in
        out) [[ $line != "$marker" ]] || state=marked ;;
        marked) [[ $line == ".Bd -literal"* ]] && state=in || return 1 ;;
        *)
            [[ $line != .Ed ]] || return 0
            line=${line//\\-/-}
            line=${line//\\&/}
            printf '%s\n' "${line//\\e/\\}"
            ;;
        esac
    done <"$MAN"
    return 1
}

# The page as man-db shows it at 80 columns, in ASCII.
man_at_80() {
    LC_ALL=C MANWIDTH=80 man -l "$MAN" | col -bx
}

man_lint() {
    local out
    # Warnings and errors; style notes such as manuals not installed on this
    # machine are not faults of the page.
    out=$(mandoc -Tlint -W warning "$MAN" 2>&1) || die "mandoc -Tlint failed: $out"
    [[ -z $out ]] || die "mandoc -Tlint: $out"
    out=$(groff -mdoc -ww -z "$MAN" 2>&1) || die "groff failed: $out"
    [[ -z $out ]] || die "groff -ww: $out"
}

# The sections a reader looks for, as headings at the left margin, in the
# order mdoc(7) gives them and no others.
man_renders() {
    local text want got
    text=$(MANWIDTH=80 mandoc -Tutf8 "$MAN" | col -b)
    want=$'NAME\nSYNOPSIS\nDESCRIPTION\nFILES\nEXIT STATUS\nEXAMPLES\nDIAGNOSTICS\nSEE ALSO\nCAVEATS'
    got=$(grep -x '[A-Z][A-Z ]*' <<<"$text")
    [[ $got == "$want" ]] || die "the sections are not mdoc's, in its order:"$'\n'"$got"
    grep -q '^ *pixvane \[bpp\]$' <<<"$text" || die "synopsis is not 'pixvane [bpp]'"
}

# What a reader gets from man -l at 80 columns: at most 180 lines, none
# wider than 80, every line of a literal display within 78, no word split
# by a hyphen at a line's end, and a header and footer that name this
# system and this version rather than BSD.
man_fits() {
    local text n wide line shown version header footer
    text=$(man_at_80)
    n=$(wc -l <<<"$text")
    ((n <= 180)) || die "the page renders to $n lines at 80 columns, more than 180"
    wide=$(awk 'length > 80' <<<"$text")
    [[ -z $wide ]] || die "lines wider than 80 columns:"$'\n'"$wide"
    n=0
    while IFS= read -r line; do
        [[ -n ${line// /} ]] || continue
        shown=$(grep -F -- "$line" <<<"$text" | awk '{ if (length > m) m = length } END { print m + 0 }')
        ((shown > 0)) || die "a literal line does not render as written: $line"
        ((shown <= 78)) || die "a literal line renders $shown columns wide: $line"
        n=$((n + 1))
    done < <(awk '/^\.Bd -literal/ { on = 1; next } /^\.Ed/ { on = 0 } on' "$MAN" |
        sed -e 's/\\-/-/g' -e 's/\\&//g' -e 's/\\e/\\/g')
    ((n >= 20)) || die "found only $n literal lines in the page"
    ! grep -nE -- '[[:alnum:]]-$' <<<"$text" || die "words split at line ends (above)"
    version=$(sed -n 's/^project(pixvane VERSION \([0-9.]*\).*/\1/p' "$SRC/CMakeLists.txt")
    [[ -n $version ]] || die "no version in CMakeLists.txt's project()"
    header=$(grep -m1 . <<<"$text")
    footer=$(grep . <<<"$text" | tail -n1)
    [[ $header != *BSD* ]] || die "the header says BSD: $header"
    grep -Eq "^pixvane $version .* pixvane $version\$" <<<"$footer" ||
        die "the footer does not name pixvane $version: $footer"
}

# .Dd is the day of the page's last change or later: that of its last
# commit by author date, or today while it has changes not committed.
man_dated() {
    local dd last
    dd=$(sed -n 's/^\.Dd //p' "$MAN")
    date -d "$dd" +%F >/dev/null 2>&1 || die ".Dd is no date: $dd"
    git -C "$SRC" rev-parse --git-dir >/dev/null 2>&1 || {
        echo "  not a git checkout: the date of the page's last change is unknown"
        return 0
    }
    if git -C "$SRC" diff --quiet HEAD -- man/pixvane.8; then
        last=$(git -C "$SRC" log -1 --format=%as -- man/pixvane.8)
    else
        last=$(date +%F)
    fi
    [[ -n $last ]] || die "git knows no change of man/pixvane.8"
    (($(date -d "$dd" +%s) >= $(date -d "$last" +%s))) ||
        die ".Dd $dd is older than the page's last change, $last"
}

# Each line that tells of a failure, taken from the sources, heads one item
# of DIAGNOSTICS, and no item elsewhere: explained once, where mdoc puts it.
man_diagnoses_each_failure_once() {
    local heads elsewhere msg re n=0
    heads=$(awk '/^\.Sh / { sec = substr($0, 5) } sec == "DIAGNOSTICS" && /^\.It / { print substr($0, 5) }' "$MAN")
    elsewhere=$(awk '/^\.Sh / { sec = substr($0, 5) } sec != "DIAGNOSTICS" && /^\.It .*(Can.t|ERROR)/' "$MAN")
    [[ -z $elsewhere ]] || die "failure lines explained outside DIAGNOSTICS: $elsewhere"
    while IFS= read -r msg; do
        msg=${msg#\"}
        msg=${msg%\"}
        msg=${msg%\\n}
        re=$(sed -e 's/[][\.*^$/]/\\&/g' -e 's/[()]/\\&/g' <<<"$msg")
        re=${re//%d/\\\\fI[a-z]+\\\\fP}
        [[ $(grep -cxE -- "$re" <<<"$heads") == 1 ]] ||
            die "DIAGNOSTICS does not head one item with: $msg"
        n=$((n + 1))
    done < <(grep -ohE '"QUIL_VO: (Can.t|ERROR)[^"]*"' "$SRC"/vo/*.cpp | sort -u)
    ((n >= 6)) || die "found only $n failure lines in vo/"
    [[ $(wc -l <<<"$heads") == "$n" ]] || die "DIAGNOSTICS lists more than the failure lines: $heads"
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

# The udev rule the page shows is the shipped dist/60-pixvane-fb.rules, read
# as udev reads it: a line that ends in a backslash goes on on the next one.
# (devnodes.sh has udev itself read the page's text.)
man_gives_the_udev_rule() {
    local shipped shown
    shipped=$(grep -v -e '^#' -e '^$' "$SRC/dist/60-pixvane-fb.rules")
    shown=$(man_display file 60-pixvane-fb.rules) || die "the page marks no display 'file: 60-pixvane-fb.rules'"
    shown=$(sed -e ':a' -e '/\\$/{N' -e 's/ *\\\n */ /' -e 'ta' -e '}' <<<"$shown")
    [[ $shown == "$shipped" ]] || die "the page's rule is not dist/60-pixvane-fb.rules's:"$'\n'"$shown"
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
check "man page renders with mdoc's sections, in order" man_renders
check "man page fits: 180 lines, 80 columns, literal lines 78, no split words, no BSD" man_fits
check "man page's .Dd is not older than its last change" man_dated
check "man page explains each failure line once, under DIAGNOSTICS" man_diagnoses_each_failure_once
check "man page shows dist/60-pixvane-fb.rules's rule" man_gives_the_udev_rule
check "man page quotes every line the tool writes" man_documents_every_line
check "man page holds README's recipes line for line" man_has_readme_recipes
check "README and the man page give dist/mdev.conf's lines" docs_give_the_mdev_lines
