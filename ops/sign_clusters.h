#pragma once

#include <cstdint>

namespace tessary {

// What the adaptive repair marks in a rebuilt row before it grows its areas,
// one byte a pixel: a firm weak sign of combing (kClusterSign), or a firm tooth
// (kClusterSeed, which holds kClusterSign's bit too).
inline constexpr uint8_t kClusterSign = 1;
inline constexpr uint8_t kClusterSeed = 3;

// Marks along a row at most this many pixels apart belong together.
inline constexpr int32_t kClusterGap = 16;
// Marks of rebuilt rows at most kClusterRowsApart apart belong together when
// they come within kClusterReach pixels of each other along the row.
inline constexpr int32_t kClusterReach = 16;
inline constexpr int32_t kClusterRowsApart = 2;
// A cluster without a firm tooth stays when it holds at least this many
// marks: a subject's moving inside is a large cluster of weak signs, while
// still texture and noise beside a subject leave small ones.
inline constexpr int64_t kLoneCluster = 40;

// Clears, in `count` rows of `width` marks, every cluster of marks that holds
// no firm tooth and fewer than kLoneCluster marks. Weak signs near moving
// subjects are kept only where they hang together with a tooth (or are many):
// fine still detail and noise within reach of a subject show such signs too,
// and rebuilding them changed still pixels for nothing.
void KeepSeededClusters(uint8_t* marks, int32_t width, int32_t count);

}  // namespace tessary
