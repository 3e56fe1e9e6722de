#!/usr/bin/env bash
# Writes the manual page kavrel.1 from the program's own `kavrel help`, gzipped as Debian wants
# it: `make-manpage.sh KAVREL VERSION OUT.gz`.
set -euo pipefail
bin=$1
version=$2
out=$3

# Text as roff takes it literally: backslashes doubled, a line that begins with a dot or a quote
# made plain text, hyphens as minus signs.
roff() {
    sed -e 's/ *$//' -e 's/\\/\\\\/g' -e "s/^\\([.']\\)/\\\\\\&\\1/" -e 's/-/\\-/g'
}
{
    printf '.TH KAVREL 1 "" "kavrel %s" "User Commands"\n' "$version"
    printf '.SH NAME\nkavrel \\- play a sound file through an adjustable filter\n'
    printf '.SH SYNOPSIS\n.B kavrel\n[\\fB\\-\\-palette\\fR \\fIdark\\fR|\\fIlight\\fR] [\\fB\\-\\-play\\fR] [\\fIFILE\\fR]\n'
    printf '.br\n.B kavrel\n\\fICOMMAND\\fR [\\fIARGS\\fR...]\n'
    printf '.SH DESCRIPTION\n'
    printf 'Without a command, kavrel opens its window, with FILE loaded when one is given.\n'
    printf 'The commands run without a display.\n'
    printf '.PP\n.nf\n'
    "$bin" help | roff
    printf '.fi\n'
    printf '.SH COMMANDS\n'
    for command in $("$bin" help | sed -n 's/^  \([a-z]*\) .*/\1/p'); do
        printf '.SS %s\n.nf\n' "$command"
        "$bin" "$command" --help | fold -s -w 78 | roff
        printf '.fi\n'
    done
    printf '.SH EXIT STATUS\n0 on success, 1 on a failure, 2 on a usage error.\n'
    printf '.SH COPYRIGHT\nGPL\\-3.0\\-or\\-later.\n'
} | gzip -9n >"$out"
