#!/usr/bin/env bash
# The texts a user reads name the rewind key as it is labelled on a PC keyboard: Backspace.
# ("Delete" there is Forward Delete, which does nothing in the prompter.)
set -u
root=$1
status=0
for file in README.md src/cuewright/app/StartWindow.cpp; do
  if grep -nE '\bDelete\b[^"]*(rewind|back to the top)' "$root/$file"; then
    echo "$file: says Delete rewinds; the key is Backspace"
    status=1
  fi
  if ! grep -q 'Backspace' "$root/$file"; then
    echo "$file: does not name Backspace as the rewind key"
    status=1
  fi
done
exit $status
