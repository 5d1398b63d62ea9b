#!/usr/bin/env bash
# Prepares a Wine prefix of the project and keeps one wineserver alive for a test run. The prefix
# is a 64-bit one with the 32-bit side (WoW64), so it runs the x64 and the x86 build alike, or,
# on a machine that cannot run 32-bit programs (tools/wine-env.sh), a 64-bit one alone.
#   wine-prefix.sh up PREFIX [SIM_DLL] [CRASH_REPORT]
#                                       create the prefix if needed, register the simulated
#                                       touchpad library and the crash reporter (if given),
#                                       start a persistent wineserver
#   wine-prefix.sh down PREFIX          stop that wineserver
set -eu
cmd=$1
export WINEPREFIX=$2
# No Mono or Gecko downloads, and no Linux menu entries for the Windows shortcuts made inside.
export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
. "$(dirname "$0")/wine-env.sh"
wine() { "$TAPDECK_WINE" "$@"; }
quiet() { "$@" > /dev/null 2>&1 < /dev/null; }
case "$cmd" in
up)
    dll=${3:-}
    reporter=${4:-}
    # A server left over from an interrupted run would keep its old settings: start afresh.
    quiet wineserver -k || true
    # A prefix made before Wine's 32-bit side was installed cannot start programs any more
    # ("could not load kernel32.dll"): make it anew. Where 32-bit programs cannot run, the
    # 64-bit loader makes prefixes without that side, and they are kept as they are.
    if [ "$TAPDECK_RUNS_32BIT" = yes ] && [ -f "$WINEPREFIX/system.reg" ] &&
        [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
        echo "wine-prefix: $WINEPREFIX lacks the 32-bit side; recreating it" >&2
        rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        DISPLAY= quiet wine wineboot -i
    fi
    # Windows without a display: hidden windows, FindWindow and window commands still work.
    quiet wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
    # No sound driver: Windows' audio endpoints say there is no output (the panel then shows
    # no volume level) without ALSA's complaints about a machine with no sound card.
    quiet wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f
    # Relay traces show only the beep, so a test can see MessageBeep being called.
    quiet wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'user32.MessageBeep' /f
    # A crashing process must end at once. Without a Debugger value Wine starts its own
    # (`winedbg --auto`), whose crash dialog waits for ever with no display and which then
    # ends the process with exit code 0: the crash reporter takes its place where given (one
    # line that says where, and the process ends with its exception code), and winedbg never
    # shows its dialog. Both views: 32-bit programs read the 32-bit one.
    aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
    for view in 32 64; do
        if [ -n "$reporter" ]; then
            quiet wine reg add "$aedebug" /v Debugger /d "\"$(wine winepath -w "$reporter" 2> /dev/null)\" %ld %ld" /f /reg:$view
            quiet wine reg add "$aedebug" /v Auto /d 1 /f /reg:$view
        else
            quiet wine reg delete "$aedebug" /v Debugger /f /reg:$view || true
        fi
    done
    quiet wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
    # The library of the build's own bitness, registered in that bitness's view (regsvr32 runs
    # as a 32-bit program for a 32-bit library).
    if [ -n "$dll" ]; then
        quiet wine regsvr32 /s "$(wine winepath -w "$dll" 2> /dev/null)"
    fi
    # The desktop and services read the settings above only when they start: let this server
    # and its desktop go, then start the run's own server and its services, here, so that they
    # do not hold the first test's output open. The services, and the device hosts they start,
    # write Wine's trace of HID input to a file beside the prefix that the run keeps: what the
    # HID class driver made of each report of a virtual pad.
    wineserver -w
    quiet wineserver -p
    WINEDEBUG=+hid wine reg query 'HKCU\Software\Wine\Drivers' /v Graphics \
        > /dev/null 2> "$WINEPREFIX-services.log" < /dev/null
    ;;
down)
    quiet wineserver -k || true
    ;;
*)
    echo "usage: $0 up PREFIX [SIM_DLL] | down PREFIX" >&2
    exit 2
    ;;
esac
