#!/bin/sh
# Runs launch.exe under Wine on a pseudo-terminal, where Wine gives it a real
# console, so that its report goes through WriteConsoleW. Usage: console_report.sh WINE LAUNCH_EXE
# (script needs a standard input: without one it copies nothing.)
# The path reaches script's shell through the environment, whatever it holds.
WINE=$1 LAUNCH_EXE=$2 exec script -qec "\"\$WINE\" \"\$LAUNCH_EXE\" 'é € 中文' '' 'C:\\' 'é € 中文'" /dev/null </dev/null
