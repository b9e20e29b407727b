# Reads the .def files (the English, in order) and then po/zh_TW.po, and either writes the
# Windows string tables (-v mode=rc) or checks the catalog (-v mode=check): every text has a
# Traditional Chinese translation, not fuzzy, with the same {n} placeholders, and no two texts
# share their English (gettext would merge them).

function unquote(s,    out, i, c) {
  # The inside of one C or po string literal.
  out = ""
  for (i = 1; i <= length(s); i++) {
    c = substr(s, i, 1)
    if (c == "\\") {
      i++
      c = substr(s, i, 1)
      if (c == "n") c = "\n"
      else if (c == "t") c = "\t"
    }
    out = out c
  }
  return out
}

function literals(s,    out, i, c, inside, piece) {
  # The string literals of s, joined, as C joins adjacent ones.
  out = ""
  inside = 0
  for (i = 1; i <= length(s); i++) {
    c = substr(s, i, 1)
    if (!inside) {
      if (c == "\"") { inside = 1; piece = "" }
      continue
    }
    if (c == "\\") { piece = piece c substr(s, i + 1, 1); i++; continue }
    if (c == "\"") { inside = 0; out = out unquote(piece); continue }
    piece = piece c
  }
  return out
}

function placeholders(s,    out, rest, at) {
  out = ""
  rest = s
  while (match(rest, /\{[1-9]\}/)) {
    out = out " " substr(rest, RSTART, RLENGTH)
    rest = substr(rest, RSTART + RLENGTH)
  }
  # Sorted, so that a translation may change their order.
  return sortwords(out)
}

function sortwords(s,    n, w, i, j, t, out) {
  n = split(s, w, " ")
  for (i = 1; i <= n; i++)
    for (j = i + 1; j <= n; j++)
      if (w[j] < w[i]) { t = w[i]; w[i] = w[j]; w[j] = t }
  out = ""
  for (i = 1; i <= n; i++) out = out " " w[i]
  return out
}

function rcquote(s) {
  gsub(/\\/, "\\\\", s)
  gsub(/"/, "\"\"", s)
  gsub(/\n/, "\\n", s)
  gsub(/\t/, "\\t", s)
  return "\"" s "\""
}

function finishpo() {
  if (msgid != "" && !fuzzy && msgstr != "") zh[msgid] = msgstr
  msgid = ""; msgstr = ""; fuzzy = 0; field = ""
}

FNR == 1 { if (FILENAME ~ /\.po$/) { finishpo(); inpo = 1 } }

# The .def files.
!inpo && /^[ \t]*\/\// { next }
!inpo && !inentry && /^[ \t]*PROJECT1_TEXT\(/ {
  inentry = 1
  entry = $0
  sub(/^[ \t]*PROJECT1_TEXT\(/, "", entry)
  name = entry
  sub(/,.*/, "", name)
  entry = substr(entry, length(name) + 2)
}
!inpo && inentry {
  if (!started) started = 1
  else entry = entry "\n" $0
  if ($0 ~ /\)[ \t]*$/) {
    english = literals(entry)
    n++
    names[n] = name
    en[n] = english
    if (english in seen) { print FILENAME ": " name " has the same English as " seen[english] > "/dev/stderr"; bad = 1 }
    seen[english] = name
    entry = ""; started = 0; inentry = 0
  }
  next
}

# The .po file.
# A flag comes before the msgid it belongs to.
inpo && /^#,.*fuzzy/ { nextfuzzy = 1; next }
inpo && /^#/ { next }
inpo && /^msgctxt / { next }
inpo && /^msgid / {
  finishpo()
  fuzzy = nextfuzzy; nextfuzzy = 0
  field = "id"; msgid = literals(substr($0, 6))
  next
}
inpo && /^msgstr / { field = "str"; msgstr = literals(substr($0, 7)); next }
inpo && /^[ \t]*"/ {
  if (field == "id") msgid = msgid literals($0)
  else if (field == "str") msgstr = msgstr literals($0)
  next
}
inpo && /^[ \t]*$/ { finishpo(); next }

END {
  finishpo()
  for (i = 1; i <= n; i++) {
    if (!(en[i] in zh)) {
      if (mode == "check") { print "no Traditional Chinese for " names[i] ": " en[i] > "/dev/stderr"; bad = 1 }
      continue
    }
    if (placeholders(en[i]) != placeholders(zh[en[i]])) {
      print names[i] ": the translation has" placeholders(zh[en[i]]) ", the English" placeholders(en[i]) > "/dev/stderr"
      bad = 1
    }
  }
  if (mode == "rc") {
    print "// Made from texts/*.def and po/zh_TW.po when the program is built."
    print "#pragma code_page(65001)"
    print "#include <winnt.h>"
    print ""
    print "STRINGTABLE"
    print "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US"
    print "BEGIN"
    for (i = 1; i <= n; i++) print "  " i ", " rcquote(en[i])
    print "END"
    print ""
    print "STRINGTABLE"
    print "LANGUAGE LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL"
    print "BEGIN"
    for (i = 1; i <= n; i++) if (en[i] in zh) print "  " i ", " rcquote(zh[en[i]])
    print "END"
  }
  exit bad
}
