#!/usr/bin/env bash
# Tests the build's packages under Wine, in a fresh prefix of their own:
#   package_test.sh BUILD_DIR CHECKS_EXE VERSION SYSTEM      (SYSTEM: win64 or win32)
#
#  1. builds the installer and the zip (and, for the upgrade, an installer of an older version)
#  2. installers given a bad /D= folder refuse it and leave nothing behind
#  3. a silent install of the older version with the demo, checked
#  4. the current version installed over it, with a hotkey: an upgrade, checked; its installed
#     tapdeck.exe runs a session on the installed simulated touchpad, its demo runs to its end
#     hotkeys of several forms are taken, malformed ones refused
#  5. the shipped example override, imported with regedit, is read by the installed Tapdeck
#  6. the current version installed again without the demo takes the demo away; installed with
#     the Precision Touchpad library, that library owns the ProgIDs and Tapdeck (finding no
#     touchpad under Wine) beeps once and ends
#  7. installed with the launcher, it runs and starts at every sign-in; installed again without
#     it, it is quit and taken away; installed with it once more for the uninstall
#  8. a silent uninstall removes files, shortcuts, the uninstall entry, the registration and the
#     launcher (quit, and no longer started at sign-in), and leaves the override
# After each step package_checks.exe (CHECKS_EXE, of the package's bitness) checks the prefix.
set -u -o pipefail
build=$1
checks=$2
version=$3
system=$4
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tools/wine-env.sh"
work=$build/package-test
older=0.0.1

program_files="Program Files"
[ "$system" = win64 ] || program_files="Program Files (x86)"

failures=0
step() { echo "== $*"; }
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

step "packages"
rm -rf "$work"
mkdir -p "$work"
(cd "$build" && cpack -G "NSIS;ZIP" > "$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log"
    exit 1
}
installer=$build/packages/Tapdeck-$version-$system.exe
zip=$build/packages/Tapdeck-$version-$system.zip
(cd "$build" && cpack -G NSIS -D CPACK_PACKAGE_VERSION=$older -D CPACK_TAPDECK_VERSION_QUAD=$older.0 \
    -D CPACK_PACKAGE_FILE_NAME=Tapdeck-$older-$system -B "$work/older" > "$work/cpack-older.log" 2>&1) || {
    cat "$work/cpack-older.log"
    exit 1
}
older_installer=$work/older/Tapdeck-$older-$system.exe
for f in "$installer" "$zip" "$older_installer"; do
    [ -f "$f" ] || fail "no package $f"
done
# The zip holds the same files as a full install, in one folder.
listing=$(python3 -c 'import sys, zipfile; print(" ".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())), end=" ")' "$zip")
expected="Tapdeck-$version-$system/demo.scenario Tapdeck-$version-$system/pad-area-override.reg Tapdeck-$version-$system/tapdeck-launcher.exe Tapdeck-$version-$system/tapdeck-layout.exe Tapdeck-$version-$system/tapdeck.exe Tapdeck-$version-$system/tapdeck_demo.exe Tapdeck-$version-$system/velptp.dll Tapdeck-$version-$system/velsim.dll "
[ "$listing" = "$expected" ] || fail "zip holds: $listing"

export WINEPREFIX=$work/wineprefix
"$root/tools/wine-prefix.sh" up "$WINEPREFIX" "" "$build/crash_report/crash_report.exe"
trap '"$root/tools/wine-prefix.sh" down "$WINEPREFIX"' EXIT
run() { "$root/tools/wine-run.sh" "$@" < /dev/null; }
# Wine's traces of the checks' child processes (their beeps) land in this file.
traces=$work/checks.stderr
check() {
    local filter=$1 expect_version=$2 hotkey=$3 demo=$4
    TAPDECK_EXPECT_VERSION=$expect_version TAPDECK_EXPECT_HOTKEY=$hotkey TAPDECK_EXPECT_DEMO=$demo \
        TAPDECK_STDERR_FILE=$traces TAPDECK_STDERR=$("$TAPDECK_WINE" winepath -w "$traces" 2> /dev/null) \
        run "$checks" --gtest_filter="$filter" --gtest_brief=1 || fail "checks $filter"
}
install_dir=$WINEPREFIX/drive_c/$program_files/Tapdeck

step "a bad folder is refused"
for bad in 'Q:\Tapdeck' 'C:\windows\win.ini\Tapdeck' 'Tapdeck'; do
    run "$installer" /S /DEMO "/D=$bad"
    rc=$?
    [ $rc -eq 2 ] || fail "installer with /D=$bad ended with $rc, not 2"
done
run "$installer" /S /HOTKEY=Ctrl+Q+Z
rc=$?
[ $rc -eq 2 ] || fail "installer with a bad hotkey ended with $rc, not 2"
run "$installer" /S /DEMO /ANYTOUCHPAD
rc=$?
[ $rc -eq 2 ] || fail "installer with both device libraries ended with $rc, not 2"
run "$installer" /S /DEMO /LAUNCHER
rc=$?
[ $rc -eq 2 ] || fail "installer with the demo and the launcher ended with $rc, not 2"
check 'NothingInstalled.*' "" 0 0

step "silent install of $older with the demo"
run "$older_installer" /S /DEMO || fail "installer $older ended with $?"
check 'Installed.*' $older 0 1

step "upgrade to $version with the demo and the hotkey Ctrl+Alt+T"
run "$installer" /S /DEMO /HOTKEY=Ctrl+Alt+T || fail "installer ended with $?"
# HOTKEYF_CONTROL | HOTKEYF_ALT in the high byte, 'T' in the low one.
check 'Installed.*' "$version" 0x0654 1

step "hotkeys as the installer takes them"
# (text, the hotkey IShellLink then reports: modifiers << 8 | virtual key; HOTKEYF_SHIFT 1,
# HOTKEYF_CONTROL 2, HOTKEYF_ALT 4)
for case in "alt+shift+f5 0x0574" "CTRL+9 0x0239" "Control+Alt+F24 0x0687" "ctrl+z 0x025A"; do
    text=${case% *}
    run "$installer" /S /DEMO "/HOTKEY=$text" || fail "installer with /HOTKEY=$text ended with $?"
    check 'Installed.StartMenuEntry*' "$version" "${case##* }" 1
done
for text in T Shift+T Ctrl+Alt Ctrl+F25 Ctrl+F0 Ctrl+Alt+TT Alt+T+Ctrl; do
    run "$installer" /S /DEMO "/HOTKEY=$text"
    rc=$?
    [ $rc -eq 2 ] || fail "installer with /HOTKEY=$text ended with $rc, not 2"
done
# A refused hotkey changes nothing: the last good one stays.
check 'Installed.StartMenuEntry*' "$version" 0x025A 1

step "the shipped example override"
# Imported by the 64-bit regedit, as a double-click does on 64-bit Windows (plain `wine regedit`
# would be the 32-bit one here, which sees HKLM\Software as a 32-bit program does).
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINEDEBUG=-all "$wine64" regedit /S "$("$TAPDECK_WINE" winepath -w "$install_dir/pad-area-override.reg")" \
    < /dev/null > /dev/null 2>&1 || fail "regedit could not import the example"
check 'Override.*' "$version" 0 1

step "install again without the demo"
run "$installer" /S || fail "installer ended with $?"
check 'WithoutDemo.*' "$version" 0 0

step "install again with the Precision Touchpad library"
run "$installer" /S /ANYTOUCHPAD || fail "installer ended with $?"
check 'AnyTouchpad.*' "$version" 0 0

step "install again with the launcher"
run "$installer" /S /LAUNCHER || fail "installer ended with $?"
check 'WithLauncher.*:AnyTouchpad.ItsLibrary*' "$version" 0 0

step "install again with the library alone"
run "$installer" /S /ANYTOUCHPAD || fail "installer ended with $?"
check 'WithoutLauncher.*' "$version" 0 0

step "with the launcher once more, for the uninstall"
run "$installer" /S /LAUNCHER || fail "installer ended with $?"
check 'WithLauncher.*' "$version" 0 0

step "silent uninstall"
run "$install_dir/Uninstall.exe" /S || fail "uninstaller ended with $?"
check 'Uninstalled.*' "$version" 0 0

if [ $failures -ne 0 ]; then
    echo "$failures step(s) failed"
    exit 1
fi
echo "all package steps passed"
