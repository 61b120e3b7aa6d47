// The PackBits encoder both drivers use, against its decoding rules.
#include <gtest/gtest.h>

#include <random>

#include "filter/driver-common/driver.h"
#include "tests/filter/drivers/pcl_decode.h"

namespace {

std::string Pack(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out(vorn::drv::pack_bits_bound(in.size()) + 1, 0xEE);
  size_t n = vorn::drv::pack_bits(in.data(), in.size(), out.data());
  EXPECT_LE(n, vorn::drv::pack_bits_bound(in.size()));
  EXPECT_EQ(out[vorn::drv::pack_bits_bound(in.size())], 0xEE) << "wrote past the bound";
  return std::string(out.begin(), out.begin() + n);
}

TEST(PackBits, KnownEncodings) {
  struct Case {
    const char* name;
    std::vector<uint8_t> in;
    std::string out;
  } cases[] = {
      {"one byte", {7}, std::string("\x00\x07", 2)},
      {"eight equal bytes", std::vector<uint8_t>(8, 0x33), "\xF9\x33"},
      {"130 equal bytes: runs of 127 and 3", std::vector<uint8_t>(130, 0x11), "\x82\x11\xFE\x11"},
      {"128 equal bytes leave the last byte alone", std::vector<uint8_t>(128, 0x22),
       std::string("\x82\x22\x00\x22", 4)},
      {"literals stop where a run starts", {1, 2, 3, 3, 3}, std::string("\x01\x01\x02\xFE\x03", 5)},
      {"literal to the end", {1, 2, 3}, std::string("\x02\x01\x02\x03", 4)},
  };
  for (const Case& c : cases) EXPECT_EQ(Pack(c.in), c.out) << c.name;
  std::vector<uint8_t> lit(300);
  for (size_t i = 0; i < lit.size(); i++) lit[i] = uint8_t(i);
  std::string out = Pack(lit);
  EXPECT_EQ(uint8_t(out[0]), 126) << "literals capped at 127";
  EXPECT_EQ(out.size(), 303u);
}

TEST(PackBits, WorstCasesStayWithinTheBound) {
  // Single bytes between pairs, and a pair before a last lone byte.
  std::vector<uint8_t> worst;
  for (int i = 0; i < 300; i++) worst.insert(worst.end(), {1, 2, 2});
  worst.insert(worst.end(), {5, 5, 6});
  EXPECT_GT(Pack(worst).size(), worst.size() + worst.size() / 4);
}

TEST(PackBits, RoundTripsAnyData) {
  std::mt19937 rng(5);
  for (int t = 0; t < 500; t++) {
    std::vector<uint8_t> in(rng() % 700);
    unsigned alphabet = 1 + rng() % 4;  // few values make runs
    for (auto& b : in) b = uint8_t(rng() % alphabet * 0x55);
    std::vector<uint8_t> back;
    std::string err;
    ASSERT_TRUE(drvtest::PclDecompress(2, Pack(in), back, err)) << err;
    ASSERT_EQ(back, in);
  }
}

}  // namespace
