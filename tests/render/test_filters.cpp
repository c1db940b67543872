// Noise removal and sharpening.
#include <gtest/gtest.h>

#include <random>

#include "reference_render.h"
#include "render/filters.h"

namespace velmo {
namespace {

// The column-sorting median against the nine-value selection it replaces, on random
// and on low-entropy pictures (many ties) of many shapes.
TEST(Filters, MedianMatchesTheSelectionRuleInPlace) {
  std::mt19937 rng(11);
  for (int iter = 0; iter < 400; ++iter) {
    const int W = int(rng() % 40) + 1, H = int(rng() % 40) + 1;
    const int levels = iter % 2 ? 256 : 3;
    std::vector<uint8_t> px(size_t(W) * H);
    for (auto& b : px) b = uint8_t(rng() % levels * (255 / (levels - 1)));
    std::vector<uint8_t> ref = px;
    test::RefMedian(ref, W, H);
    MedianFilterInPlace(px.data(), W, H);
    ASSERT_EQ(px, ref) << W << "x" << H;
  }
}

TEST(Filters, SharpenMatchesTheKernel) {
  std::mt19937 rng(12);
  for (int iter = 0; iter < 200; ++iter) {
    const int W = int(rng() % 40) + 1, H = int(rng() % 40) + 1;
    std::vector<uint8_t> px(size_t(W) * H), scratch(px.size());
    for (auto& b : px) b = uint8_t(rng());
    std::vector<uint8_t> ref = px;
    test::RefSharpen(ref, W, H);
    SharpenFilter(px.data(), W, H, scratch.data());
    ASSERT_EQ(px, ref) << W << "x" << H;
  }
}

TEST(Filters, BehaviourOnSmallPictures) {
  // A single bright pixel disappears.
  std::vector<uint8_t> px(5 * 5, 10);
  px[2 * 5 + 2] = 250;
  MedianFilterInPlace(px.data(), 5, 5);
  EXPECT_EQ(px[2 * 5 + 2], 10);
  // A vertical edge of 100 | 200 becomes 0 | 255 under sharpening.
  std::vector<uint8_t> edge(4 * 4), scratch(16);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) edge[r * 4 + c] = c < 2 ? 100 : 200;
  SharpenFilter(edge.data(), 4, 4, scratch.data());
  EXPECT_EQ(edge[1 * 4 + 1], 0);
  EXPECT_EQ(edge[1 * 4 + 2], 255);
  EXPECT_EQ(edge[0 * 4 + 1], 100);  // first row unchanged
  // In place: a dark pixel below a filtered area is judged against filtered values.
  std::vector<uint8_t> a = {0, 0, 0, 200, 200, 200, 200, 0, 200, 0, 0, 0};  // 3 x 4
  std::vector<uint8_t> ref = a;
  test::RefMedian(ref, 3, 4);
  MedianFilterInPlace(a.data(), 3, 4);
  EXPECT_EQ(a, ref);
  // W or H below 3: unchanged.
  std::vector<uint8_t> thin = {1, 200, 3, 4, 250, 6};
  const std::vector<uint8_t> copy = thin;
  MedianFilterInPlace(thin.data(), 2, 3);
  SharpenFilter(thin.data(), 3, 2, scratch.data());
  EXPECT_EQ(thin, copy);
}

}  // namespace
}  // namespace velmo
