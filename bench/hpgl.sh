#!/usr/bin/env bash
# The HP-GL/2 benchmark under its short name: bench/hpglconv.sh.
exec bash "$(dirname "$0")/hpglconv.sh" "$@"
