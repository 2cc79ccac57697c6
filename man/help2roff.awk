# help2roff.awk: fills a man page template with what a program's --help says,
# so that the page cannot drift from the program.
#
#   awk -f help2roff.awk HELP-TEXT TEMPLATE > PAGE
#
# The template is roff; two comment lines in it are replaced:
#   .\" <name from the help>     the NAME section, from the first help line
#                                ("prog: what it does")
#   .\" <sections from the help> everything after the usage line
# The help text is read as CLI11 and hand-written footers lay it out:
#   - a short unindented line ending in ":" after a blank line is a heading
#     ("Options:" becomes OPTIONS);
#   - a line indented by two spaces is an item: its term, two or more spaces,
#     its description; deeper-indented lines continue the description;
#   - other lines are prose, and blank lines separate paragraphs.

# Escapes text for roff: backslashes, and the hyphens of options. A hyphen
# that follows a separator starts an option; every hyphen up to the next
# space is then a minus sign, which roff never breaks a line at.
function esc(s,    out, i, c, prev, opt) {
  gsub(/\\/, "\\e", s)
  out = ""
  prev = ""
  opt = 0
  for (i = 1; i <= length(s); i++) {
    c = substr(s, i, 1)
    if (c == " ") opt = 0
    else if (c == "-" && (prev == "" || prev ~ /[ (\[=|\/,]/)) opt = 1
    if (c == "-" && opt) out = out "\\-"
    else out = out c
    prev = c
  }
  return out
}

# A text line that roff would not take as a request.
function text(s) {
  s = esc(s)
  if (s ~ /^[.']/) s = "\\&" s
  return s
}

# An item's term: the first word bold (key=VALUE as bold key= and italic
# VALUE), other words that are placeholders in capitals italic.
function term(s,    n, w, i, out, k) {
  # CLI11 writes a bounded number as INT:INT in [0 - 60000].
  while (match(s, /:[A-Z]+ in \[[0-9]+ - [0-9]+\]/)) {
    k = substr(s, RSTART, RLENGTH)
    sub(/^:[A-Z]+ in \[/, "", k)
    sub(/\]$/, "", k)
    sub(/ - /, " to ", k)
    s = substr(s, 1, RSTART - 1) " (" k ")" substr(s, RSTART + RLENGTH)
  }
  n = split(s, w, " ")
  out = ""
  for (i = 1; i <= n; i++) {
    if (i > 1) out = out " "
    if (i == 1 && w[i] ~ /^[a-z-]+=[A-Z]/) {
      k = index(w[i], "=")
      out = out "\\fB" esc(substr(w[i], 1, k)) "\\fI" esc(substr(w[i], k + 1)) "\\fR"
    } else if (i == 1) {
      out = out "\\fB" esc(w[i]) "\\fR"
    } else if (w[i] ~ /^\[?[A-Z][A-Z_]*(=[A-Z]+)?\]?$/) {
      out = out "\\fI" esc(w[i]) "\\fR"
    } else {
      out = out esc(w[i])
    }
  }
  if (out ~ /^[.']/) out = "\\&" out
  return out
}

function emit(s) { body = body s "\n" }

FILENAME == ARGV[1] {
  help[++nHelp] = $0
  next
}

FNR == 1 && !done {
  done = 1
  # The whole help is read: turn it into roff once.
  for (i = 1; i <= nHelp; i++) sub(/[ \t]+$/, "", help[i])
  split(help[1], first, ": ")
  name = ".SH NAME\n" esc(first[1]) " \\- " esc(substr(help[1], length(first[1]) + 3))
  body = ""
  blank = 1
  for (i = 2; i <= nHelp; i++) {
    line = help[i]
    if (line ~ /^Usage: /) continue
    if (line == "") {
      blank = 1
      continue
    }
    if (blank && line !~ /^ / && line ~ /:$/ && length(line) < 40) {
      h = toupper(substr(line, 1, length(line) - 1))
      emit(".SH \"" h "\"")
      blank = initem = 0
      continue
    }
    if (line ~ /^  [^ ]/) {
      t = substr(line, 3)
      d = ""
      if (match(t, /  +/)) {
        d = substr(t, RSTART + RLENGTH)
        t = substr(t, 1, RSTART - 1)
      }
      initem = 1
      emit(".TP")
      emit(term(t))
      if (d != "") emit(text(d))
    } else if (line ~ /^   /) {
      sub(/^ +/, "", line)
      emit(text(line))
    } else {
      if (blank || initem) emit(".PP")
      initem = 0
      emit(text(line))
    }
    blank = 0
  }
}

/^\.\\" <name from the help>$/ { printf "%s\n", name; next }
/^\.\\" <sections from the help>$/ { printf "%s", body; next }
{ print }
