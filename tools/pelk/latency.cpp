#include "tools/pelk/latency.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

namespace {

constexpr size_t kBarWidth = 50;

// The bound of a bucket at or below value: 1, 2, 3, 5 or 7 times a power
// of ten, or 0 below 1.
double LowerBound(double value) {
    if (value < 1) {
        return 0;
    }
    const double decade = std::pow(10.0, std::floor(std::log10(value)));
    double bound = decade;
    for (double step : {2.0, 3.0, 5.0, 7.0}) {
        bound = value >= step * decade ? step * decade : bound;
    }
    return bound;
}

// The bound after bound.
double NextBound(double bound) {
    if (bound < 1) {
        return 1;
    }
    const double decade = std::pow(10.0, std::floor(std::log10(bound) + 1e-9));
    const double step = std::round(bound / decade);
    return step == 1   ? 2 * decade
           : step == 2 ? 3 * decade
           : step == 3 ? 5 * decade
           : step == 5 ? 7 * decade
                       : 10 * decade;
}

std::string Micros(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

}  // namespace

double Percentile(const std::vector<double>& sorted, double fraction) {
    const size_t rank = static_cast<size_t>(std::ceil(fraction * sorted.size()));
    return sorted[rank == 0 ? 0 : rank - 1];
}

JsonObject LatencySummary(const std::vector<double>& sorted) {
    const double sum = std::accumulate(sorted.begin(), sorted.end(), 0.0);
    JsonObject summary;
    summary.Num("min", sorted.front())
        .Num("mean", sum / sorted.size())
        .Num("median", Percentile(sorted, 0.5))
        .Num("p90", Percentile(sorted, 0.9))
        .Num("p99", Percentile(sorted, 0.99))
        .Num("p999", Percentile(sorted, 0.999))
        .Num("max", sorted.back());
    return summary;
}

std::vector<LatencyBucket> LatencyHistogram(const std::vector<double>& sorted) {
    std::vector<LatencyBucket> buckets;
    if (sorted.empty()) {
        return buckets;
    }
    double from = LowerBound(sorted.front());
    size_t at = 0;
    while (at < sorted.size()) {
        const double to = NextBound(from);
        const size_t end = static_cast<size_t>(
            std::lower_bound(sorted.begin() + at, sorted.end(), to) - sorted.begin());
        buckets.push_back({from, to, end - at});
        at = end;
        from = to;
    }
    return buckets;
}

JsonArray HistogramJson(const std::vector<LatencyBucket>& buckets) {
    JsonArray list;
    for (const LatencyBucket& bucket : buckets) {
        list.Obj(JsonObject()
                     .Num("fromMicros", bucket.from)
                     .Num("toMicros", bucket.to)
                     .Int("count", static_cast<long long>(bucket.count)));
    }
    return list;
}

void DrawHistogram(FILE* to, const std::vector<LatencyBucket>& buckets) {
    size_t largest = 0;
    for (const LatencyBucket& bucket : buckets) {
        largest = std::max(largest, bucket.count);
    }
    std::fprintf(to, "latency histogram (microseconds):\n");
    for (const LatencyBucket& bucket : buckets) {
        size_t marks = largest == 0 ? 0 : bucket.count * kBarWidth / largest;
        marks = bucket.count > 0 && marks == 0 ? 1 : marks;
        std::fprintf(to, "  %8s - %-8s |%-*s| %zu\n", Micros(bucket.from).c_str(),
                     Micros(bucket.to).c_str(), static_cast<int>(kBarWidth),
                     std::string(marks, '#').c_str(), bucket.count);
    }
}
