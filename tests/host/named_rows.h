// Naming the rows of table-driven tests. Every row struct has a `name`:
// it names the test case made from the row, and it stands for the row
// wherever GoogleTest prints a test's parameter (test listings, failure
// messages), instead of a dump of the row's bytes.
#pragma once

#include <concepts>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

namespace vantlow_test {

template <typename Row>
concept NamedRow = requires(const Row &row) {
  { row.name } -> std::convertible_to<std::string>;
};

// The last argument of INSTANTIATE_TEST_SUITE_P: each case is named after
// its row.
struct RowName {
  template <NamedRow Row> std::string operator()(const ::testing::TestParamInfo<Row> &info) const {
    return info.param.name;
  }
};

// Prints a row as its name. GoogleTest looks for PrintTo beside the row's
// type, so a test file brings it in with `using vantlow_test::PrintTo;` in
// the namespace of its rows.
template <NamedRow Row> void PrintTo(const Row &row, std::ostream *os) {
  *os << row.name;
}

} // namespace vantlow_test
