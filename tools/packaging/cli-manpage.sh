#!/bin/sh
# Writes the manual page of lumenpick-cli from the program's own --help text, so the page lists
# exactly the commands the program has.
#   cli-manpage.sh CLI VERSION OUT
set -eu
cli=$1
version=$2
out=$3

help=$("$cli" --help)
tmp="$out.tmp.$$"
trap 'rm -f "$tmp"' EXIT

printf '%s\n' "$help" | awk -v version="$version" '
# roff: a backslash is \e, a line must not start with a control character.
function esc(s) {
  gsub(/\\/, "\\e", s)
  c = substr(s, 1, 1)
  if (c == "." || c == "\047") s = "\\&" s
  return s
}
# Options and command words: a hyphen is a real minus, so the text can be copied.
function esc_words(s) {
  s = esc(s)
  gsub(/-/, "\\-", s)
  return s
}
BEGIN { section = "synopsis"; ncmd = 0; nsyn = 0 }
section == "synopsis" {
  if ($0 ~ /^[ \t]*$/) { section = "commands"; next }
  line = $0
  sub(/^usage:[ \t]*/, "", line)
  sub(/^[ \t]+/, "", line)
  synopsis[++nsyn] = line
  next
}
section == "commands" {
  # "  name usage" starts a command; the deeper indented lines below it are its summary.
  if ($0 ~ /^  [a-z]/) {
    usage[++ncmd] = substr($0, 3)
    summary[ncmd] = ""
    in_command = 1
  } else if ($0 ~ /^    [ \t]*[^ \t]/ && in_command) {
    text = $0
    sub(/^[ \t]+/, "", text)
    summary[ncmd] = summary[ncmd] (summary[ncmd] == "" ? "" : " ") text
  } else {
    in_command = 0
  }
}
END {
  if (ncmd == 0) { print "cli-manpage: no command found in the help text" > "/dev/stderr"; exit 1 }
  print ".TH LUMENPICK\\-CLI 1 \"\" \"LumenPick " version "\" \"LumenPick\""
  print ".SH NAME"
  print "lumenpick\\-cli \\- the headless companion of the LumenPick stock screener"
  print ".SH SYNOPSIS"
  for (i = 1; i <= nsyn; ++i) {
    split(synopsis[i], w, " ")
    rest = synopsis[i]
    sub(/^[^ ]+[ ]*/, "", rest)
    print ".B " esc_words(w[1])
    print esc_words(rest)
    if (i < nsyn) print ".br"
  }
  print ".SH DESCRIPTION"
  print ".B lumenpick\\-cli"
  print "runs the core of LumenPick without windows: it reads and fills the price database,"
  print "screens, ranks, searches, charts and values portfolios for scripts and daily batches."
  print "Output is UTF\\-8 on standard output; an error is one line on standard error and the"
  print "exit status 1."
  print ".SH COMMANDS"
  for (i = 1; i <= ncmd; ++i) {
    print ".TP"
    print ".B " esc_words(usage[i])
    print esc(summary[i])
  }
  print ".SH OPTIONS"
  print "These options go with every command."
  print ".TP"
  print ".BI \\-\\-documents \" DIR\""
  print "the documents folder instead of ~/Documents; the product folder is"
  print ".IR DIR /nordhaven/lumenpick/."
  print ".TP"
  print ".BI \\-\\-today \" YYYYMMDD\""
  print "today\\(aqs date instead of the system date."
  print ".TP"
  print ".B \\-\\-help"
  print "lists every command with its usage and what it prints."
  print ".TP"
  print ".B \\-\\-version"
  print "prints the version."
  print ".SH FILES"
  print ".TP"
  print ".I ~/Documents/nordhaven/lumenpick/"
  print "the settings settei.txt, the preferences init.txt and the link list cmd.txt, the price"
  print "database kabuka_db/ and the user folder user/ with screening results and portfolios."
  print ".TP"
  print ".I /usr/share/lumenpick/"
  print "the templates copied into the product folder when it is first made."
  print ".SH EXIT STATUS"
  print "0 on success, 1 on a failure (with a one\\-line message on standard error)."
  print ".SH SEE ALSO"
  print ".B lumenpick"
  print "(the desktop program),"
  print ".B lumenpick\\-sample\\-market \\-\\-help"
  print "(a synthetic market to try it on) and"
  print ".B lumenpick\\-price\\-server \\-\\-help"
  print "(serves packed price files on loopback)."
}' > "$tmp"
gzip -9n -c "$tmp" > "$out"
