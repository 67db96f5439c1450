# The verdict lines of the Windows comparisons: sourced after $work (a scratch folder) is set.
passed=0
failed=0
check() {  # check NAME COMMAND...: one verdict line
  local name=$1
  shift
  if "$@" > "$work/check.log" 2>&1; then
    passed=$((passed + 1))
    echo "ok   $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name"
    head -n 30 "$work/check.log" | sed 's/^/     /'
  fi
}
