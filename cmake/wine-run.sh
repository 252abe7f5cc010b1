#!/bin/sh
# Runs a Windows program under Wine, quietly, in one fixed prefix: the
# CMAKE_CROSSCOMPILING_EMULATOR of the Windows build, also used by the
# scripts.  Usage: wine-run.sh PROGRAM.exe [ARG...]
# Exit status: the low 8 bits of the program's exit code.
#
#  - WINEPREFIX defaults to $HOME/.wine-kvq: one prefix (about 0.7 GiB) for
#    every build tree.  It is made on first use, under a lock, so that tests
#    started in parallel do not race to create it.
#  - Wine's server and its service processes are started here, detached,
#    with /dev/null as their output.  Started by the program instead, they
#    would inherit its output pipes and keep them open for seconds after it
#    ended, and whoever reads those pipes (CTest) would wait for them.  The
#    server stays up 60 seconds after its last client; `wineserver -k` with
#    the same WINEPREFIX stops it at once.
#  - Wine's diagnostics (fixme lines, the missing wine32 hint) are off, a
#    crashing program ends with its exception code instead of starting the
#    debugger, and the Mono and Gecko installers are never offered.
: "${WINEPREFIX:=${HOME:-/root}/.wine-kvq}"
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=;winedbg.exe=d}"
: "${LANG:=C.UTF-8}"   # arguments and output in the ANSI code page 1252
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES LANG

mkdir -p "$WINEPREFIX" || exit 1
(
  flock 9 || exit 1
  # The daemons must not inherit descriptor 9, or they would hold the lock.
  fresh=no
  wineserver -p60 </dev/null >/dev/null 2>&1 9>&- && fresh=yes  # 2: already running
  if [ ! -e "$WINEPREFIX/.kvq-prefix-ready" ]; then
    wineboot --init </dev/null >/dev/null 2>&1 9>&- &&
      touch "$WINEPREFIX/.kvq-prefix-ready"
  elif [ $fresh = yes ]; then
    wineboot </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$WINEPREFIX.lock" || { echo "wine-run.sh: cannot set up $WINEPREFIX" >&2; exit 1; }
exec wine "$@"
