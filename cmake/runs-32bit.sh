#!/usr/bin/env bash
# Whether this machine runs 32-bit programs, learnt by running one: the 32-bit loader of the
# C library, which 32-bit Wine needs too. Some kernels refuse every 32-bit program, and
# 32-bit Wine with them. Exits 0 when it ran; otherwise prints the system's reason (e.g.
# "Exec format error") and exits 1.
#
#   if why=$(cmake/runs-32bit.sh); then ...win32...; else echo "no 32-bit programs: $why"; fi
if why=$(LC_ALL=C /lib/ld-linux.so.2 --version 2>&1 >/dev/null); then
  exit 0
fi
why=${why##*: }
echo "${why:-does not run}"
exit 1
