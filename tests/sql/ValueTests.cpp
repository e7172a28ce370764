#include "sql/Connection.h"
#include <gtest/gtest.h>
TEST(Placeholder, Builds) { SUCCEED(); }
