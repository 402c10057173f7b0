// A path timed against its floor in alternating blocks of one run: each pair
// is one block of the floor and one of the path (the order swapping from
// pair to pair), so that whatever else the machine does weighs on both; the
// figure is the median of the per-pair ratios, with their minimum.
#ifndef PELK_BENCH_PAIRED_RATIO_H
#define PELK_BENCH_PAIRED_RATIO_H

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

struct PairedRatio {
    double median = 0;   // of path time over floor time, per pair
    double minimum = 0;  // the smallest of those ratios
    double pathUs = 0;   // median time of one path operation, microseconds
    double floorUs = 0;  // the same for the floor
    int pairs = 0;
    int block = 0;        // operations per block
    bool failed = false;  // an operation reported failure
};

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Each operation returns false on failure. The block is chosen so that one
// block of the floor takes about blockMs.
inline PairedRatio MeasurePaired(const std::function<bool()>& path,
                                 const std::function<bool()>& floor, int pairs,
                                 double blockMs = 30) {
    using Clock = std::chrono::steady_clock;
    PairedRatio result;
    auto time = [&](const std::function<bool()>& operation, int count) {
        const auto start = Clock::now();
        for (int i = 0; i < count; ++i) result.failed |= !operation();
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    };
    // Warm both, then size the block from the floor.
    time(path, 3);
    const double probeUs = std::max(time(floor, 5) / 5, 0.05);
    result.block = std::max(4, std::min(200000, static_cast<int>(blockMs * 1000 / probeUs)));
    result.pairs = pairs;
    std::vector<double> ratios, pathUs, floorUs;
    for (int pair = 0; pair < pairs && !result.failed; ++pair) {
        double p, f;
        if (pair % 2 == 0) {
            f = time(floor, result.block);
            p = time(path, result.block);
        } else {
            p = time(path, result.block);
            f = time(floor, result.block);
        }
        ratios.push_back(p / f);
        pathUs.push_back(p / result.block);
        floorUs.push_back(f / result.block);
    }
    result.median = Median(ratios);
    result.minimum = ratios.empty() ? 0 : *std::min_element(ratios.begin(), ratios.end());
    result.pathUs = Median(pathUs);
    result.floorUs = Median(floorUs);
    return result;
}

// The result as one JSON object.
inline void WritePairedJson(FILE* out, const PairedRatio& ratio) {
    std::fprintf(out,
                 "{\"median\": %.4f, \"minimum\": %.4f, \"path_us\": %.4f, "
                 "\"floor_us\": %.4f, \"pairs\": %d, \"block\": %d, \"failed\": %d}",
                 ratio.median, ratio.minimum, ratio.pathUs, ratio.floorUs, ratio.pairs, ratio.block,
                 ratio.failed);
}

#endif
