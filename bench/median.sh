# shellcheck shell=bash disable=SC2034 # used by the scripts that source this file
# Sourced by the bench scripts: an awk function for their tables, the median of the numbers in
# a space-separated list (-1 for none).
awk_median='
    function median(list,    i, k, n, v, s, x) {
        n = split(list, v, " ")
        if (n == 0) return -1
        for (i = 1; i <= n; ++i) s[i] = v[i] + 0
        for (i = 2; i <= n; ++i)
            for (k = i; k > 1 && s[k - 1] > s[k]; --k) { x = s[k]; s[k] = s[k - 1]; s[k - 1] = x }
        return n % 2 ? s[(n + 1) / 2] : (s[n / 2] + s[n / 2 + 1]) / 2
    }'
