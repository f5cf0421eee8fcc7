#!/bin/sh
# Fails when a program or library of the engine side links or calls into Qt.
status=0
for f in "$@"; do
    case "$f" in
    *.a) if nm -uC "$f" 2>/dev/null | grep -Eq ' (Q[A-Z][A-Za-z]+|Qt)::'; then
             echo "$f calls into Qt"; status=1
         fi ;;
    *)   if ldd "$f" | grep -q 'libQt'; then
             echo "$f links Qt:"; ldd "$f" | grep 'libQt'; status=1
         fi ;;
    esac
done
exit $status
