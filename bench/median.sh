# shellcheck shell=sh
# Sourced by the bench scripts. median: the middle line of standard input,
# ordered by its first number (the lower middle for an even count).
median() {
    sort -n | awk '{ v[NR] = $0 } END { if (NR) print v[int((NR + 1) / 2)] }'
}
