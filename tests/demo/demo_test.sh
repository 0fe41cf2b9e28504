#!/usr/bin/env bash
# The demo's exchange (one office, two stations) against the loopback mail server scripts/test
# started, in its own mailbox (user 46), with the programs of this build.
set -euo pipefail
src=$1
build=$2
if [ -z "${TZN_SMTP_PORT:-}" ]; then
  echo "SKIPPED: TZN_SMTP_PORT is not set: no loopback mail server (run scripts/test)"
  exit 77
fi
if ! "$build/tznhost" --help | grep -qw requests; then
  echo "SKIPPED: this tznhost has no exchange commands (requests, report) yet"
  exit 77
fi
TZN_DEMO_BUILD=$build exec "$src/scripts/demo" --no-build --server-user 46
