# Turns one "## " section of README.md into a help2man include block:
#   awk -v title=Troubleshooting [-v out=FILE] -f readme-section.awk README.md
# "### " headings become subsections, blank lines paragraph breaks, `code` bold. Only what that
# section uses is understood: plain paragraphs, headings and code spans.
function emit(line) {
  if (out != "") print line > out
  else print line
}
function escape(text) {
  gsub(/\\/, "\\e", text)
  return text
}
function code(text) {
  return "\\fB" minus(text) "\\fR"
}
function options(text,    out) {
  out = ""
  while (match(text, /--[A-Za-z0-9-]+/)) {
    out = out substr(text, 1, RSTART - 1) minus(substr(text, RSTART, RLENGTH))
    text = substr(text, RSTART + RLENGTH)
  }
  return out text
}
function minus(text) {
  gsub(/-/, "\\-", text)
  return text
}
function inline(line,    out, start, length_) {
  out = ""
  while (match(line, /`[^`]*`/)) {
    start = RSTART
    length_ = RLENGTH
    out = out options(escape(substr(line, 1, start - 1))) code(escape(substr(line, start + 1, length_ - 2)))
    line = substr(line, start + length_)
  }
  out = out options(escape(line))
  if (out ~ /^[.']/) out = "\\&" out
  return out
}
$0 == "## " title { inside = 1; emit("[" toupper(title) "]"); paragraph = 1; next }
inside && /^## / { exit }
!inside { next }
/^### / { emit(".SS \"" substr($0, 5) "\""); paragraph = 0; heading = 1; next }
/^[[:space:]]*$/ { if (!heading) paragraph = 1; next }
{
  if (paragraph) emit(".PP")
  paragraph = heading = 0
  emit(inline($0))
}
END { if (!inside) { print "readme-section.awk: no section " title > "/dev/stderr"; exit 1 } }
