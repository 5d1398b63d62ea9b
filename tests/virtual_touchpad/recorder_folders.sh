#!/bin/sh
# The report recorder's folders that cannot be written, for its tests: DIR/readonly, which no
# one may write, root included (the immutable attribute: these tests run as root, whom file
# permissions do not stop), and DIR/full, whose session.script is /dev/full, as on a full disk.
#   recorder_folders.sh up|down DIR
set -eu
dir=$2
if [ -d "$dir/readonly" ]; then
    chattr -i "$dir/readonly"
fi
rm -rf "$dir"
if [ "$1" = up ]; then
    mkdir -p "$dir/readonly" "$dir/full"
    ln -s /dev/full "$dir/full/session.script"
    chattr +i "$dir/readonly"
fi
