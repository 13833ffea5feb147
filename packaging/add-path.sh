#!/bin/sh
# Adds the install folder to the end of the system PATH in an MSI built by
# wixl, which has no Environment element: an Environment table row, and the
# two standard actions that write it at install and take it back at uninstall.
# Usage: add-path.sh MSI COMPONENT DIRECTORY
set -eu
msi=$(realpath "$1") component=$2 directory=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# "=-*": set at install, removed at uninstall, in the system environment;
# "[~];" keeps what PATH holds and appends to it.
printf 'Environment\tName\tValue\tComponent_\ns72\tl255\tL255\ts72\nEnvironment\tEnvironment\n' >Environment.idt
printf 'PathEntry\t=-*PATH\t[~];[%s]\t%s\n' "$directory" "$component" >>Environment.idt
msiinfo export "$msi" InstallExecuteSequence >InstallExecuteSequence.idt
printf 'RemoveEnvironmentStrings\t\t3300\nWriteEnvironmentStrings\t\t5200\n' >>InstallExecuteSequence.idt
msibuild "$msi" -i InstallExecuteSequence.idt
msibuild "$msi" -i Environment.idt
