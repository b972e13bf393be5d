#!/usr/bin/env bash
# Sourced by the test scripts: one Wine prefix for the project, quiet.
export WINEPREFIX=${WINEPREFIX:-${HOME:-/root}/.wine-kestrel}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
