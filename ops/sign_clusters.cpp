#include "ops/sign_clusters.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "image/row_kernel.h"
#include "ops/pixel_rows.h"

namespace tessary {

namespace {

// Whether any of `count` marks is a firm tooth.
TESSARY_ROW_KERNEL uint8_t HoldsSeed(const uint8_t* marks, int32_t count) {
    uint8_t any = 0;
    for (int32_t i = 0; i < count; ++i) {
        any |= marks[i] & (kClusterSeed ^ kClusterSign);
    }
    return any;
}
static_assert((kClusterSign & (kClusterSeed ^ kClusterSign)) == 0,
              "a weak sign lacks the tooth's bit");

// How many of `count` bytes are marks (a tooth holds a sign's bit too).
TESSARY_ROW_KERNEL uint32_t CountMarks(const uint8_t* marks, int32_t count) {
    uint32_t n = 0;
    for (int32_t i = 0; i < count; ++i) {
        n += marks[i] & kClusterSign;
    }
    return n;
}

// covered[x]: whether a mark lies within the kClusterGap pixels up to x (`marks`
// has kClusterGap zero bytes before it), so that marks at most kClusterGap
// apart make one covered stretch.
TESSARY_ROW_KERNEL void CoverGaps(const uint8_t* marks, int32_t width,
                                  uint8_t* __restrict covered) {
    for (int32_t x = 0; x < width; ++x) {
        uint8_t any = 0;
        for (int32_t back = 0; back < kClusterGap; ++back) {
            any |= marks[x - back];
        }
        covered[x] = any;
    }
}

// A stretch of one row's marks, no two neighbours more than kClusterGap apart.
struct Run {
    int32_t from;  // first mark
    int32_t to;    // last mark
};

// The runs of every row, then joined into clusters by union-find.
class Clusters {
  public:
    void AddRow(const uint8_t* row, int32_t width) {
        const size_t first = m_runs.size();
        m_padded.resize(size_t(width) + kClusterGap, 0);
        m_covered.resize(size_t(width));
        std::memcpy(m_padded.data() + kClusterGap, row, size_t(width));
        CoverGaps(m_padded.data() + kClusterGap, width, m_covered.data());
        const uint8_t* covered = m_covered.data();
        for (int32_t x = FirstNonZero(covered, width); x < width;) {
            // The first covered pixel is a mark, and so is the last kClusterGap - 1
            // before the end of the stretch, or the last mark before the picture's side.
            const int32_t end = x + FirstZero(covered + x, width - x);
            int32_t last = end - 1;
            while (row[last] == 0) {
                --last;
            }
            m_parent.push_back(m_runs.size());
            m_runs.push_back({x, last});
            m_marks.push_back(CountMarks(row + x, last - x + 1));
            m_seeded.push_back(HoldsSeed(row + x, last - x + 1));
            x = end + FirstNonZero(covered + end, width - end);
        }
        m_rowStarts.push_back(first);
        const size_t rows = m_rowStarts.size();
        for (size_t back = 1; back <= size_t(kClusterRowsApart) && back < rows; ++back) {
            Join(m_rowStarts[rows - 1 - back], m_rowStarts[rows - back], first, m_runs.size());
        }
    }

    // Clears the marks of the runs of row `k` whose cluster does not stay.
    void ClearLoneRuns(size_t k, uint8_t* row) {
        const size_t end = k + 1 < m_rowStarts.size() ? m_rowStarts[k + 1] : m_runs.size();
        for (size_t i = m_rowStarts[k]; i < end; ++i) {
            const size_t root = Find(i);
            if (!m_seeded[root] && m_marks[root] < kLoneCluster) {
                std::memset(row + m_runs[i].from, 0, size_t(m_runs[i].to - m_runs[i].from + 1));
            }
        }
    }

  private:
    // Joins the runs [upper, upperEnd) with [lower, lowerEnd) that come within
    // kClusterReach of each other; both lists run left to right.
    void Join(size_t upper, size_t upperEnd, size_t lower, size_t lowerEnd) {
        for (size_t i = lower; i < lowerEnd; ++i) {
            while (upper < upperEnd && m_runs[upper].to + kClusterReach < m_runs[i].from) {
                ++upper;
            }
            for (size_t j = upper; j < upperEnd && m_runs[j].from <= m_runs[i].to + kClusterReach;
                 ++j) {
                Unite(i, j);
            }
        }
    }

    size_t Find(size_t i) {
        while (m_parent[i] != i) {
            m_parent[i] = m_parent[m_parent[i]];
            i = m_parent[i];
        }
        return i;
    }

    void Unite(size_t a, size_t b) {
        a = Find(a);
        b = Find(b);
        if (a == b) {
            return;
        }
        if (m_marks[a] < m_marks[b]) {
            std::swap(a, b);
        }
        m_parent[b] = a;
        m_marks[a] += m_marks[b];
        m_seeded[a] |= m_seeded[b];
    }

    std::vector<Run> m_runs;
    std::vector<size_t> m_parent;
    std::vector<int64_t> m_marks;
    std::vector<uint8_t> m_seeded;
    std::vector<size_t> m_rowStarts;
    std::vector<uint8_t> m_padded;  // a row with kClusterGap zeros before it
    std::vector<uint8_t> m_covered;
};

}  // namespace

void KeepSeededClusters(uint8_t* marks, int32_t width, int32_t count) {
    if (width <= 0 || count <= 0) {
        return;
    }
    Clusters clusters;
    for (int32_t k = 0; k < count; ++k) {
        clusters.AddRow(marks + size_t(k) * size_t(width), width);
    }
    for (int32_t k = 0; k < count; ++k) {
        clusters.ClearLoneRuns(size_t(k), marks + size_t(k) * size_t(width));
    }
}

}  // namespace tessary
