#!/usr/bin/env bash
# How the test command counts ctest's JUnit report: a test that could not
# start is a failure although ctest files it as "notrun" like a skip, a
# deliberate skip is neither passed nor failed, a disabled test is not there.
set -uo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"

report=$(mktemp)
trap 'rm -f "$report"' EXIT
failures=0

# expect WHAT "PASSED FAILED SKIPPED": checks the counts of $report.
expect() {
    local got
    got=$(junit_counts "$report")
    if [ "$got" != "$2" ]; then
        echo "FAILED: $1: counted \"$got\", want \"$2\"" >&2
        failures=$((failures + 1))
    fi
}

# write_report: the testcases on standard input inside a suite, as ctest
# 3.25 writes its report (the suite's own counts are not read).
write_report() {
    {
        echo '<?xml version="1.0" encoding="UTF-8"?>'
        echo '<testsuite name="quellon" tests="0" failures="0" disabled="0" skipped="0">'
        cat
        echo '</testsuite>'
    } >"$report"
}

# One test for each way a test can end.
write_report <<'XML'
	<testcase name="ok" classname="ok" time="0.01" status="run">
		<system-out></system-out>
	</testcase>
	<testcase name="bad" classname="bad" time="0.01" status="fail">
		<failure message=""/>
		<system-out></system-out>
	</testcase>
	<testcase name="timeout" classname="timeout" time="1.02" status="fail">
		<failure message=""/>
		<system-out></system-out>
	</testcase>
	<testcase name="gtest_skip" classname="gtest_skip" time="0.01" status="notrun">
		<skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/>
		<system-out>[  SKIPPED ] cannot raise the descriptor limit</system-out>
	</testcase>
	<testcase name="code_skip" classname="code_skip" time="0.01" status="notrun">
		<skipped message="SKIP_RETURN_CODE=77"/>
		<system-out></system-out>
	</testcase>
	<testcase name="missing" classname="missing" time="0" status="notrun">
		<skipped message="Unable to find executable"/>
		<system-out>Unable to find executable: /nonexistent/x</system-out>
	</testcase>
	<testcase name="needs_setup" classname="needs_setup" time="0" status="notrun">
		<skipped message="Fixture dependency failed"/>
		<system-out></system-out>
	</testcase>
	<testcase name="off" classname="off" time="0" status="disabled">
		<system-out>Disabled</system-out>
	</testcase>
XML
expect "every way a test ends" "1 4 2"

write_report </dev/null
expect "no test at all" "0 0 0"

# The last test not run for want of its program, with nothing after it.
write_report <<'XML'
	<testcase name="missing" classname="missing" time="0" status="notrun">
		<skipped message="Unable to find executable"/>
	</testcase>
XML
expect "a program missing at the end" "0 1 0"

[ "$failures" -eq 0 ]
