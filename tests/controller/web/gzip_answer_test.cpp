#include "controller/web/gzip_answer.h"

#include <gtest/gtest.h>

#include "tests/case_name.h"

namespace hostsweep::controller {
namespace {

struct AcceptCase {
  const char* header;
  bool gzip;
};

class AcceptsGzipTest : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(AcceptsGzipTest, ReadsTheCodingsAndTheirWeights) {
  EXPECT_EQ(AcceptsGzip(GetParam().header), GetParam().gzip);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, AcceptsGzipTest,
    ::testing::Values(AcceptCase{"gzip, deflate, br, zstd", true}, AcceptCase{"br", false},
                      AcceptCase{"", false}, AcceptCase{" GZIP ;q=0.5", true},
                      AcceptCase{"gzip;q=0", false}, AcceptCase{"gzip; q=0.000, br", false},
                      AcceptCase{"*", true}, AcceptCase{"identity, *;q=0", false},
                      AcceptCase{"x-gzip", false}),
    [](const auto& info) {
      return testing::CaseName(info.param.header) + (info.param.gzip ? "_gzip" : "_plain");
    });

}  // namespace
}  // namespace hostsweep::controller
