#!/usr/bin/env bash
# Exports the sample log with logvane-cli and reads the result with an
# independent ADIF parser.
#   run_check.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/SampleLog"
"$build/tools/make-sample-log" "$work/SampleLog" >/dev/null
"$build/cli/logvane-cli" export "$work/SampleLog" >/dev/null
contacts=$("$build/cli/logvane-cli" dump "$work/SampleLog/LogTabl.mti" | wc -l)
NODE_PATH="$build/adif-check/node_modules" node "$here/check_adif.js" "$work/SampleLog/SampleLog.ADI" "$contacts"
