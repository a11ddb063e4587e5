#!/usr/bin/env bash
# Runs a Windows program under Wine, in a prefix of the build tree: wine-run.sh PREFIX PROGRAM
# [ARGS...]. The first call makes the prefix (a 64-bit one, without the Mono and Gecko
# installers) and maps a CJK font for the dialog and system fonts, so Chinese text renders; a
# lock keeps parallel first calls from racing. The wine server stays up between calls, so each
# test program starts quickly.
set -euo pipefail
prefix=$1; shift
export WINEPREFIX=$prefix
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.quorvel-ready-2" ]; then
    # The children must not inherit the lock: the wine server outlives this block.
    "$wine" wineboot --init >/dev/null 2>&1 9>&- || true
    reg=$(mktemp --suffix=.reg)
    font="Noto Sans CJK SC"
    {
      printf 'REGEDIT4\r\n\r\n'
      printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
      for f in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "SimSun" "NSimSun" "Microsoft YaHei" \
               "MS Sans Serif" "Segoe UI"; do
        printf '"%s"="%s"\r\n' "$f" "$font"
      done
      printf '\r\n'
      # No sound device: a click on a disabled window beeps, and a beep that waits for an
      # audio driver can stall the program for good.
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\r\n"Audio"=""\r\n\r\n'
    } > "$reg"
    "$wine" regedit /S "$(winepath -w "$reg" 2>/dev/null 9>&- || echo "$reg")" >/dev/null 2>&1 9>&- || true
    rm -f "$reg"
    /usr/lib/wine/wineserver -w 9>&- 2>/dev/null || true
    touch "$prefix/.quorvel-ready-2"
  fi
  # Start the wine server here, detached from our output, and keep it up between programs (it
  # exits by itself once idle for a while). A fresh server's system processes (services, the
  # desktop) start with the first program and live as long as the server: they are started
  # here too, detached, so that they never hold the caller's output pipe open (ctest would
  # wait for them) after the program has ended. The lock keeps a parallel call from starting
  # them itself meanwhile.
  if /usr/lib/wine/wineserver -p30 </dev/null >/dev/null 2>&1 9>&-; then
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$prefix.lock"

# On a terminal the program writes straight to it. Otherwise (ctest, a pipe) its output goes
# through files, so that no process the program leaves behind in the prefix (the desktop, a
# service) can hold the caller's pipe open after the program has ended; ctest would wait.
if [ -t 1 ]; then
  exec "$wine" "$@"
fi
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
status=0
"$wine" "$@" </dev/null >"$out" 2>"$err" || status=$?
cat "$err" >&2
cat "$out"
exit $status
