#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The programs users install hold no test option and no test code: none of the test operator's
# words is in them, while the test program that carries it shows them (so the check can fail).
#   no_test_code.sh SHIPPED... TEST_PROGRAM
set -euo pipefail
words='test-operator|TestOperator|AnsweredDialogs|report\.txt'
# Qt's string literals are UTF-16: look at both encodings.
texts() { strings -a "$1"; strings -a -el "$1"; }
test_program=${*: -1}
status=0
for program in "${@:1:$#-1}"; do
    if found=$(texts "$program" | grep -E "$words"); then
        echo "FAIL: $(basename "$program") holds test code: $(head -3 <<<"$found" | tr '\n' ' ')"
        status=1
    else
        echo "$(basename "$program"): no test code"
    fi
done
texts "$test_program" | grep -E "$words" >/dev/null ||
    { echo "FAIL: the words are not found even in $(basename "$test_program")"; status=1; }
exit $status
