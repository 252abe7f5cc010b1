#!/bin/sh
# Downloads the zlib source package of the Debian release this machine runs
# (its contrib/minizip is the zip writer of the Windows build) into DIR with
# `apt-get source --download-only`, and prints the path of its upstream
# ("orig") tarball.  Needs neither root nor deb-src lines in the system's apt
# configuration: the machine's own "deb" entries for the release suite
# (one-line .list files and deb822 .sources files) are turned into deb-src
# entries in a private apt state under DIR.
# Usage: fetch-zlib-source.sh DIR          Exit status 1 on any failure.
set -eu
dir=$1
. /etc/os-release
release=${VERSION_CODENAME:?no VERSION_CODENAME in /etc/os-release}
etc=/etc/apt
state="$dir/apt"
mkdir -p "$state/lists/partial" "$state/cache/archives/partial"
sources="$state/sources.list"

# One-line format: deb [options] URI SUITE COMPONENT...
one_line() {
  awk -v rel="$release" '
    $1 != "deb" { next }
    { i = 2   # the URI, after the options in brackets if there are any
      if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
      if ($(i + 1) == rel) { $1 = "deb-src"; print } }' "$1"
}

# deb822 format: stanzas of "Field: value" lines separated by blank lines.
deb822() {
  awk -v rel="$release" '
    function emit(   n, m, s, u, k) {
      if (types ~ /(^| )deb( |$)/ && tolower(enabled) != "no")
        for (n = split(suites, s, " "); n > 0; n--)
          if (s[n] == rel)
            for (m = split(uris, u, " "); m > 0; m--)
              print "deb-src" (key != "" ? " [signed-by=" key "]" : "") " " u[m] " " rel " " comps
      types = uris = suites = comps = key = enabled = ""
    }
    /^[ \t]*#/ { next }
    /^[ \t]*$/ { emit(); next }
    { field = tolower($1); sub(/:$/, "", field); $1 = ""; sub(/^ +/, "")
      if (field == "types") types = $0
      else if (field == "uris") uris = $0
      else if (field == "suites") suites = $0
      else if (field == "components") comps = $0
      else if (field == "signed-by") key = $0
      else if (field == "enabled") enabled = $0 }
    END { emit() }' "$1"
}

: >"$sources"
for f in "$etc/sources.list" "$etc"/sources.list.d/*.list; do
  [ -f "$f" ] && one_line "$f" >>"$sources"
done
for f in "$etc"/sources.list.d/*.sources; do
  [ -f "$f" ] && deb822 "$f" >>"$sources"
done
if [ ! -s "$sources" ]; then
  echo "fetch-zlib-source.sh: no apt entry for the suite '$release' on this machine" >&2
  exit 1
fi

set -- -qq -o "Dir::Etc::SourceList=$sources" -o Dir::Etc::SourceParts=/nonexistent \
  -o "Dir::State::Lists=$state/lists" -o "Dir::Cache=$state/cache" \
  -o Debug::NoLocking=1 -o "APT::Sandbox::User=$(id -un)"
apt-get "$@" update >&2
cd "$dir"
apt-get "$@" source --download-only "zlib/$release" >&2
for tarball in "$dir"/zlib_*.orig.tar.*; do
  [ -f "$tarball" ] && { echo "$tarball"; exit 0; }
done
echo "fetch-zlib-source.sh: apt-get source left no orig tarball in $dir" >&2
exit 1
