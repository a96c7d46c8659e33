#!/bin/sh
# What help2man runs in place of a program (KESTREL_HELP_PROGRAM) to read its --help and
# --version, standard error included. Our usage lines are put in the form help2man takes for a
# synopsis: "usage:" as "Usage:", each further form of the command (a line starting with the
# program's name) as "  or:", a deeper-indented continuation joined to its form. Of --version
# only the first line passes (name and version): the rest describes one build's image.
if [ "$1" = "--version" ]; then
  "$KESTREL_HELP_PROGRAM" "$1" 2>&1 | head -n 1
  exit 0
fi
"$KESTREL_HELP_PROGRAM" "$1" 2>&1 | awk '
  NR == 1 && sub(/^[Uu]sage: +/, "") { form = $0; name = $1; inUsage = 1; next }
  inUsage && /^ +/ {
    text = $0; sub(/^ +/, "", text)
    if (index(text, name " ") == 1) { print (forms++ ? "  or: " : "Usage: ") form; form = text }
    else form = form " " text
    next
  }
  inUsage { print (forms++ ? "  or: " : "Usage: ") form; inUsage = 0 }
  { print }
  END { if (inUsage) print (forms++ ? "  or: " : "Usage: ") form }'
