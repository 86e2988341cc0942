#include <gtest/gtest.h>
TEST(TimedBrowse, Placeholder) {}
