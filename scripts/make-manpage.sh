#!/usr/bin/env bash
# Writes the manual page of velomark or velomark-cli from the program's own --help (and, for
# velomark-cli, every command's --help), with help2man.
#   scripts/make-manpage.sh PROGRAM OUTPUT
set -euo pipefail
program=$1
output=$2
name=$(basename "$program")
include=$(mktemp)
trap 'rm -rf "$include"' EXIT

case $name in
velomark)
  summary="data logger window for hand-held traffic-speed lidars"
  cat >"$include" <<'TEXT'
[SEE ALSO]
.BR velomark-cli (1)
TEXT
  ;;
velomark-cli)
  summary="command-line front end of the Velomark lidar data logger"
  # The commands are the lines of the "Commands:" paragraph of the program's help.
  commands=$("$program" --help | sed -n '/^Commands:/,/^$/{/^  [a-z]/s/^  \([a-z-]*\).*/\1/p}')
  [ -n "$commands" ] || { echo "make-manpage: $name --help lists no command" >&2; exit 1; }
  {
    echo "[COMMAND DETAILS]"
    for command in $commands; do
      echo ".SS $command"
      echo ".nf"
      # Roff needs a backslash doubled and a leading dot or quote escaped.
      "$program" "$command" --help | sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"
      echo ".fi"
    done
    echo "[SEE ALSO]"
    echo ".BR velomark (1)"
  } >"$include"
  ;;
*)
  echo "make-manpage: unknown program $name" >&2
  exit 2
  ;;
esac

# The title takes the program's file name; the version is what the program prints.
version=$("$program" --version)
# help2man makes its own sections of "Options:" and "Environment:"; "Exit status:" becomes one
# here, placed before ENVIRONMENT (or SEE ALSO) as manual pages order them.
help2man --no-info --no-discard-stderr --section=1 --name="$summary" --include="$include" \
  --version-string="$name ${version#* }" --source="$version" "$program" |
  awk '
    /^\.SS "Exit status:"$/ { moving = 1; moved = ".SH \"EXIT STATUS\"\n"; next }
    /^\.S[SH] / { moving = 0 }
    moving { moved = moved $0 "\n"; next }
    /^\.SH (ENVIRONMENT|"SEE ALSO")$/ && moved != "" { printf "%s", moved; moved = "" }
    { print }
  ' >"$output"
