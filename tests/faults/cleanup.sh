#!/bin/sh
# Removes the small disks that a fault run which ended abruptly left mounted.
# Every case ends within seconds, so a disk untouched for ten minutes is left over.
for dir in $(find /tmp -maxdepth 1 -name 'kv-faults-disk-*' -mmin +10 2>/dev/null); do
    if mountpoint -q "$dir"; then
        umount "$dir" 2>/dev/null || umount -l "$dir"
    fi
    rmdir "$dir" 2>/dev/null
done
exit 0
