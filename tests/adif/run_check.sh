#!/usr/bin/env bash
# Exports the sample log with logvane-cli and reads the result with
# independent ADIF readers: the default form with check_adif.js, the ADIF 3
# form (--format adif3) with check_adif3.js.
#   run_check.sh BUILD_DIR [adif1|adif3]
set -euo pipefail
build=$1
format=${2:-adif1}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/SampleLog"
"$build/tools/make-sample-log" "$work/SampleLog" >/dev/null
"$build/cli/logvane-cli" export "$work/SampleLog" --format "$format" >/dev/null
"$build/cli/logvane-cli" dump "$work/SampleLog/LogTabl.mti" >"$work/contacts.jsonl"
export NODE_PATH="$build/adif-check/node_modules"
if [ "$format" = adif3 ]; then
  node "$here/check_adif3.js" "$work/SampleLog/SampleLog.ADI" "$work/contacts.jsonl"
else
  node "$here/check_adif.js" "$work/SampleLog/SampleLog.ADI" "$(wc -l <"$work/contacts.jsonl")"
fi
