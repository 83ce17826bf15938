#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer and runs each for FUZZ_SECONDS.
set -euo pipefail
echo "fuzz: no fuzz targets yet"
