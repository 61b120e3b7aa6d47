# Timing helpers for the benchmark scripts (sourced).

# once <command...>: "wall cpu" seconds of one run (cpu = user + system),
# timed by the shell itself.
once() {
  local t real user sys
  t=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2>&1 )
  read -r real user sys <<<"$t"
  echo "$real $(echo "$user + $sys" | bc)"
}

# median <file>: the median of each column of "wall cpu" lines.
median() {
  local n
  n=$(wc -l <"$1")
  printf '%s %s' "$(cut -d' ' -f1 "$1" | sort -n | sed -n "$(( (n + 1) / 2 ))p")" \
                 "$(cut -d' ' -f2 "$1" | sort -n | sed -n "$(( (n + 1) / 2 ))p")"
}
