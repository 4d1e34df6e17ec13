#!/usr/bin/env bash
# The manual page keeps up with the runner: every command and option that
# 'vellisync-cli --help' lists is described in it, it describes no option the
# runner has lost, and the two programs and the page all give the version of
# the build.
#   manual_page_test.sh CLI WIZARD MANUAL VERSION
set -uo pipefail
cli=$1 wizard=$2 manual=$3 version=$4
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The options in a text: a dash or two and a word, not inside a word
# ("keep-both", "Ctrl-C" and "SHA-256" hold none).
options_in() { grep -oE -- '(^|[^[:alnum:]-])--?[a-z][a-z-]*' | grep -oE -- '--?[a-z][a-z-]*' | sort -u; }

help=$("$cli" --help) || fail "vellisync-cli --help exits with $?"
# roff writes a hyphen that must stay one as \-.
page=$(sed 's/\\-/-/g' "$manual")

# The options the page describes: the heads of its .TP items.
described=$(awk 'previous == ".TP" && /^\.B[IR]? -/ { print } { previous = $0 }' <<<"$page" | options_in)
listed=$(options_in <<<"$help")
while read -r option; do
    grep -qxF -- "$option" <<<"$described" || fail "the manual page does not describe $option"
done <<<"$listed"
while read -r option; do
    grep -qxF -- "$option" <<<"$listed" || fail "the manual page describes $option, which --help lacks"
done <<<"$described"

for command in run list create state; do
    grep -qE "^${command}( |$)" <<<"$help" || fail "--help lacks the command $command"
    grep -qE "^\.BR? ${command}( |$)" <<<"$page" || fail "the manual page lacks the command $command"
done

[[ $("$cli" --version) == "vellisync-cli $version" ]] || fail "vellisync-cli --version: $("$cli" --version)"
# The wizard answers without a display.
wizard_version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$wizard" --version 2>&1)
[[ $wizard_version == "vellisync $version" ]] || fail "vellisync --version: $wizard_version"
grep -q "^\.TH VELLISYNC-CLI 1 .*\"Vellisync $version\"" "$manual" || fail "the manual page's .TH lacks version $version"

if command -v groff >/dev/null; then
    warnings=$(groff -man -ww -z "$manual" 2>&1)
    [[ -z $warnings ]] || fail "groff warns: $warnings"
fi

((failures == 0)) && echo "manual page: all checks passed"
exit $((failures > 0))
