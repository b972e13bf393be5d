#!/bin/sh
# Each command's --help as a help2man include section: $1 the program, $2 the output.
{
  echo '[COMMANDS]'
  echo '.nf'
  for command in list scan recover; do
    "$1" "$command" --help
    echo
  done
  echo '.fi'
} > "$2"
