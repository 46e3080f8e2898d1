#!/bin/sh
# Starts the build prefix's Wine session before the end-to-end tests, detached
# from ctest's pipes. Otherwise the first test's Wine process starts the
# wineserver and the session's services, they inherit that test's output
# pipe, and ctest charges the whole session's lifetime to that one test (and
# its timeout). The server lingers 20 s after its last client, then ends by
# itself with its services, so there is nothing to stop afterwards.
#   start_wineserver.sh PREFIX WINE_RUN_SH E2E_TEST_EXE
prefix=$1 wine_run=$2 tests=$3
if [ ! -f "$prefix/system.reg" ]; then
  # First use: let the wrapper create the prefix, then let that server go.
  ZUB_WINEPREFIX=$prefix "$wine_run" "$tests" --gtest_list_tests </dev/null >/dev/null 2>&1
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -w
fi
# Fails harmlessly when a server for the prefix is already running.
WINEPREFIX=$prefix /usr/lib/wine/wineserver -p20 </dev/null >/dev/null 2>&1
# One quick test brings up everything a test process and a helper need.
ZUB_WINEPREFIX=$prefix "$wine_run" "$tests" --gtest_filter=ProductionArgvFailure.EmptyCommandLine \
  </dev/null >/dev/null 2>&1
exit 0
