#include "ops/sign_clusters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessary {
namespace {

// Rows of marks drawn as text: '.' none, 's' a weak sign, 'T' a firm tooth.
std::vector<uint8_t> Marks(const std::vector<std::string>& rows) {
    std::vector<uint8_t> marks;
    for (const std::string& row : rows) {
        for (const char c : row) {
            marks.push_back(c == 's' ? kClusterSign : c == 'T' ? kClusterSeed : 0);
        }
    }
    return marks;
}

std::string Dots(int32_t n) {
    return std::string(size_t(n), '.');
}

std::string Signs(int32_t n) {
    return std::string(size_t(n), 's');
}

TEST(KeepSeededClusters, KeepsWhatHangsTogetherWithAToothOrIsLarge) {
    const std::string blank = Dots(60);
    const std::string signs = "..sss" + Dots(55);
    const std::string tooth = "..T" + Dots(57);
    struct Case {
        const char* name;
        std::vector<std::string> rows;
        bool kept;  // whether the signs stay
    };
    const Case cases[] = {
        {"signs alone", {signs, signs, blank}, false},
        {"signs beside a tooth", {"..ssT" + Dots(55), signs, blank}, true},
        {"a tooth kClusterGap along the row",
         {"..sss" + Dots(kClusterGap - 1) + "T" + Dots(55 - kClusterGap), blank, blank},
         true},
        {"a tooth one pixel farther",
         {"..sss" + Dots(kClusterGap) + "T" + Dots(54 - kClusterGap), blank, blank},
         false},
        {"a tooth one rebuilt row down", {signs, tooth, blank}, true},
        {"a tooth kClusterRowsApart rows down", {signs, blank, tooth}, true},
        {"a tooth kClusterReach along in the row below",
         {signs, Dots(4 + kClusterReach) + "T" + Dots(55 - kClusterReach), blank},
         true},
        {"a tooth one pixel farther in the row below",
         {signs, Dots(5 + kClusterReach) + "T" + Dots(54 - kClusterReach), blank},
         false},
        {"a tooth kClusterReach back in the row below",
         {Dots(20) + "sss" + Dots(37), Dots(20 - kClusterReach) + "T" + Dots(39 + kClusterReach),
          blank},
         true},
        {"a tooth one pixel farther back",
         {Dots(20) + "sss" + Dots(37), Dots(19 - kClusterReach) + "T" + Dots(40 + kClusterReach),
          blank},
         false},
        {"kLoneCluster signs",
         {Signs(kLoneCluster / 2) + Dots(60 - kLoneCluster / 2),
          Signs(kLoneCluster / 2) + Dots(60 - kLoneCluster / 2), blank},
         true},
        {"one sign fewer",
         {Signs(kLoneCluster / 2) + Dots(60 - kLoneCluster / 2),
          Signs(kLoneCluster / 2 - 1) + Dots(61 - kLoneCluster / 2), blank},
         false},
    };
    static_assert(kClusterRowsApart == 2, "the cases draw three rows");
    static_assert(kLoneCluster % 2 == 0 && kLoneCluster / 2 < 60, "the cases draw two rows");
    for (const Case& c : cases) {
        const std::vector<uint8_t> before = Marks(c.rows);
        std::vector<uint8_t> after = before;
        KeepSeededClusters(after.data(), 60, int32_t(c.rows.size()));
        for (size_t i = 0; i < before.size(); ++i) {
            // Teeth always stay; signs by the case.
            const uint8_t expected = before[i] == kClusterSeed || c.kept ? before[i] : 0;
            ASSERT_EQ(after[i], expected) << c.name << " at " << i;
        }
    }
}

TEST(KeepSeededClusters, SeparateClustersAreJudgedApart) {
    // A subject's signs with its tooth on the left, a speck of texture far to
    // the right in the same rows: only the speck goes.
    const std::string left = "sssT" + Dots(kClusterGap + kClusterReach + 1);
    std::vector<uint8_t> marks = Marks({left + "ss", left + "ss"});
    const int32_t width = int32_t(left.size()) + 2;
    KeepSeededClusters(marks.data(), width, 2);
    EXPECT_EQ(marks, Marks({left + "..", left + ".."}));
}

}  // namespace
}  // namespace tessary
