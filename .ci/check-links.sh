#!/usr/bin/env bash
# Every relative link in README.md and docs/*.md names a file or folder that
# exists, relative to the page that links it. Web and mail links and links
# within a page (#anchor) are skipped; an #anchor after a file name is
# dropped; fenced code blocks are not read. Prints each broken link and fails
# if there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
broken=0
for page in README.md docs/*.md; do
  # "line target" for each inline link or image, [text](target "title"), and
  # each reference definition, [label]: target.
  while read -r line target; do
    target=${target#<} target=${target%>}
    case $target in http://* | https://* | mailto:* | '#'*) continue ;; esac
    if [ ! -e "$(dirname "$page")/${target%%#*}" ]; then
      echo "$page:$line: broken link: $target" >&2
      broken=$((broken + 1))
    fi
  done < <(awk '
    /^ ? ? ?(```|~~~)/ { fenced = !fenced; next }
    fenced { next }
    {
      if (match($0, /^ ? ? ?\[[^]]+\]: +[^ ]+/)) {
        definition = substr($0, RSTART, RLENGTH)
        sub(/^.*\]: +/, "", definition)
        print NR, definition
      }
      rest = $0
      while (match(rest, /\]\([^) ]+/)) {
        print NR, substr(rest, RSTART + 2, RLENGTH - 2)
        rest = substr(rest, RSTART + RLENGTH)
      }
    }' "$page")
done
if [ $broken -gt 0 ]; then
  echo "check-links: $broken broken link(s)" >&2
  exit 1
fi
echo "check-links: every relative link names a file that exists"
