#pragma once
// What this process uses: CPU time so far and resident memory, read from the kernel.

#include <QtGlobal>

#include <algorithm>
#include <vector>

namespace nms::bench {

// User plus system CPU time of the whole process, in microseconds.
qint64 ProcessCpuMicroseconds();
// Resident set size in kibibytes (VmRSS), or -1.
qint64 ResidentKib();

template <typename T> T Median(std::vector<T> values)
{
    if (values.empty())
        return T {};
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

} // namespace nms::bench
