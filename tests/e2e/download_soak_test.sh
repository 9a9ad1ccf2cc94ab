#!/usr/bin/env bash
# A short download soak (50 runs; about a minute): every misbehaviour of the soak server
# ends within its bound, every success is byte-identical, no failure claims completion.
# Usage: download_soak_test.sh BUILD_DIR
source "$(dirname "$0")/runner.sh"
bash "$e2e_dir/../soak/run.sh" "$build" 50 "${QEV_SOAK_SEED:-$(((RANDOM << 15) | RANDOM))}"
