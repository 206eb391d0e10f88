# SPDX-License-Identifier: MIT
# Sourced before running anything built with the sanitizers: every report ends the process with
# a failure, and leaks are checked except those of the libraries named in the suppressions.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$top/tools/suppressions/lsan.supp:print_suppressions=0"
