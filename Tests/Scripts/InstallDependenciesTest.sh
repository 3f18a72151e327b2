#!/usr/bin/env bash
# How scripts/install-dependencies becomes root: as it is, through sudo with or without a
# password, or not at all, saying what to run as root. Every package counts as missing; the
# commands that would change the machine are fakes that write what they were asked to a log.
# shellcheck disable=SC2016 # the fakes' variables expand when the fakes run
set -euo pipefail
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
ln -s "$(command -v sh)" "$(command -v grep)" "$work/bin/"
fake() { printf '#!/bin/sh\n%s\n' "$2" >"$work/bin/$1" && chmod +x "$work/bin/$1"; }
fake dpkg-query 'exit 1'
fake locale 'echo de_DE.utf8'
fake id 'echo "$FAKE_UID"'
fake apt-get 'echo "apt-get $1" >>"$LOG"'
# FAKE_SUDO: free (no password), password (asks for it), refused.
fake sudo 'case "$1" in
    -n) [ "$FAKE_SUDO" = free ] ;;
    -v) echo "asked for the password" >>"$LOG"; [ "$FAKE_SUDO" = password ] ;;
    *) [ "$FAKE_SUDO" != refused ] && echo "sudo $1" >>"$LOG" && "$@" ;;
esac'
bash=$(command -v bash)
failures=0
# check WHAT UID SUDO TERMINAL STATUS LOG: runs the script and compares its status and log.
check() {
    [[ $3 == none ]] && rm -f "$work/bin/sudo.off" && mv "$work/bin/sudo" "$work/bin/sudo.off"
    : >"$work/log"
    local command="env PATH=$work/bin LOG=$work/log FAKE_UID=$2 FAKE_SUDO=$3 $bash $script"
    local status=0
    if [[ $4 == terminal ]]; then
        script -qec "$command" /dev/null >"$work/out" 2>&1 </dev/null || status=$?
    else
        $command >"$work/out" 2>&1 </dev/null || status=$?
    fi
    [[ $3 == none ]] && mv "$work/bin/sudo.off" "$work/bin/sudo"
    local log
    log=$(paste -sd, "$work/log")
    if [[ $status != "$5" || $log != "$6" ]] \
        || { [[ $5 != 0 ]] && ! grep -q "Run this as root" "$work/out"; }; then
        echo "FAILED: $1: status $status, log \"$log\""
        cat "$work/out"
        failures=$((failures + 1))
    fi
}
check "root" 0 none pipe 0 "apt-get update,apt-get install"
check "sudo without a password" 1000 free pipe 0 "sudo sh,apt-get update,apt-get install"
check "sudo asks on a terminal" 1000 password terminal 0 \
    "asked for the password,sudo sh,apt-get update,apt-get install"
check "sudo cannot ask without a terminal" 1000 password pipe 1 ""
check "sudo refused" 1000 refused terminal 1 "asked for the password"
check "no sudo" 1000 none terminal 1 ""
echo "$((6 - failures)) passed, $failures failed"
[[ $failures == 0 ]]
