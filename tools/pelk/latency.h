// The latencies of pelk ping's round trips: their summary with percentiles
// and a histogram on a logarithmic scale, as text and JSON.
#ifndef PELK_TOOL_LATENCY_H
#define PELK_TOOL_LATENCY_H

#include <cstddef>
#include <cstdio>
#include <vector>

#include "tools/common/json.h"

// The value at or below which fraction of the sorted values lie (nearest
// rank); sorted must not be empty.
double Percentile(const std::vector<double>& sorted, double fraction);

// {"min","mean","median","p90","p99","p999","max"} of the sorted values.
JsonObject LatencySummary(const std::vector<double>& sorted);

struct LatencyBucket {
    double from;  // microseconds, inclusive
    double to;    // exclusive
    size_t count;
};

// The sorted values counted into buckets bounded by 1, 2, 3, 5 and 7 times
// the powers of ten (a value below 1 in [0, 1)), from the first bucket that
// holds a value to the last.
std::vector<LatencyBucket> LatencyHistogram(const std::vector<double>& sorted);

// [{"fromMicros","toMicros","count"},...]
JsonArray HistogramJson(const std::vector<LatencyBucket>& buckets);
// One line a bucket: its bounds, a bar as long as its share of the largest
// bucket (at least one mark for a bucket that holds a value) and its count.
void DrawHistogram(FILE* to, const std::vector<LatencyBucket>& buckets);

#endif
