#!/bin/sh
# Runs launch.exe under Wine on a pseudo-terminal, where Wine gives it a real
# console, so that its report goes through WriteConsoleW. Usage: console_report.sh LAUNCH_EXE
# (script needs a standard input: without one it copies nothing.)
# The path reaches script's shell through the environment, whatever it holds.
LAUNCH_EXE=$1 exec script -qec "wine \"\$LAUNCH_EXE\" 'é € 中文' '' 'C:\\' 'é € 中文'" /dev/null </dev/null
