# Sourced by every script that runs Wine: decides, once per run, which Wine loader starts the
# project's programs and whether this machine can run 32-bit programs at all.
#
# Debian's `wine` prefers the 32-bit loader once Wine's 32-bit side is installed; on a kernel
# without 32-bit emulation that loader cannot start ("Exec format error") and neither can any
# program through `wine`, while the 64-bit loader runs every 64-bit program. So the 32-bit
# loader is tried, and where it cannot run the 64-bit loader is used directly.
#
# Sets and exports (a child script keeps what its parent decided):
#   TAPDECK_WINE           the loader: `wine`, or the 64-bit loader itself
#   TAPDECK_RUNS_32BIT     yes or no
#   TAPDECK_NO_32BIT_WHY   why not, in a few words (empty when yes)
# TAPDECK_32BIT=no, set by hand, makes a machine that could run 32-bit programs behave as one
# that cannot (to try the 64-bit-only path).

tapdeck_wine_decide() {
    local wine32=/usr/lib/wine/wine wine64=/usr/lib/wine/wine64 out kernel
    TAPDECK_RUNS_32BIT=yes
    TAPDECK_NO_32BIT_WHY=
    if [ "${TAPDECK_32BIT:-}" = no ]; then
        TAPDECK_RUNS_32BIT=no
        TAPDECK_NO_32BIT_WHY="TAPDECK_32BIT=no"
    elif [ ! -x "$wine32" ]; then
        TAPDECK_RUNS_32BIT=no
        TAPDECK_NO_32BIT_WHY="Wine's 32-bit side (wine32:i386) is not installed"
    elif ! out=$("$wine32" --version < /dev/null 2>&1); then
        TAPDECK_RUNS_32BIT=no
        # The kernel says why when it has 32-bit emulation switched off; else Wine's own words.
        kernel=$( (dmesg 2> /dev/null || true) | grep -o -m1 '32-bit emulation disabled' || true)
        if [ -z "$kernel" ] && grep -qw 'ia32_emulation=off' /proc/cmdline 2> /dev/null; then
            kernel='32-bit emulation disabled'
        fi
        if [ -n "$kernel" ]; then
            TAPDECK_NO_32BIT_WHY="kernel: $kernel"
        else
            TAPDECK_NO_32BIT_WHY="Wine's 32-bit loader fails: $(echo "$out" | tail -n 1 | sed 's/^.*: //')"
        fi
    fi
    if [ $TAPDECK_RUNS_32BIT = yes ]; then
        TAPDECK_WINE=wine
    else
        TAPDECK_WINE=$wine64
        # Processes that Wine starts from a 64-bit one find their loader here.
        export WINELOADER=$wine64
    fi
    export TAPDECK_WINE TAPDECK_RUNS_32BIT TAPDECK_NO_32BIT_WHY
}

if [ -z "${TAPDECK_WINE:-}" ] || [ -z "${TAPDECK_RUNS_32BIT:-}" ]; then
    tapdeck_wine_decide
elif [ "$TAPDECK_RUNS_32BIT" = no ]; then
    export WINELOADER=${WINELOADER:-$TAPDECK_WINE}
fi
