#include <gtest/gtest.h>
#include "dct/dct_state.h"
TEST(Smoke, Builds) { DCTState* s = DCTFirstInit(); ASSERT_NE(s, nullptr); free(s); }
