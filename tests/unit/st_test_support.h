// What the tests of the symbol-table library share: the writers' names, the
// message classes as the recorder shows them, and a fixture that records the
// messages of each test and gives the address mode back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dbg_writer.h"
#include "indgen.h"
#include "st_api.h"

namespace st_test {

using dbgw::Bytes;
using dbgw::FlagScope;
using dbgw::hex;
using dbgw::MessageLog;
using Lines = std::vector<std::string>;
using V = std::vector<int64_t>;

inline const std::string E = "3|<libst>: ", W = "4|<libst>: ", I = "5|<libst>: ";

class StTest : public testing::Test {
  protected:
    void SetUp() override { saved_ = gadr_get_mode(); }
    void TearDown() override { gadr_set_mode(saved_); }
    uint32_t saved_ = GADR_MODE_32BIT;
    MessageLog log;
};

}  // namespace st_test
