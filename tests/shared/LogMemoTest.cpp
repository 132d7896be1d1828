// labels: unit
#include "shared/LogMemo.h"

#include <gtest/gtest.h>

#include <string>

#include "framework/SysUtils.h"

// What every program's event log keeps: the newest lines in order, one redraw a
// line, and a memo that still redraws after a line it could not take.
TEST(LogMemo, KeepsTheNewestLinesAndRedrawsOnceALine) {
  fw::TStringList lines;
  int redraws = 0;
  lines.OnChange = [&](fw::TObject*) { ++redraws; };
  for (int i = 1; i <= 61; ++i) vexa::AddLogLine(&lines, "line " + std::to_string(i), 60);
  EXPECT_EQ(lines.Count(), 61) << "up to the limit and one more, nothing is dropped";
  EXPECT_EQ(redraws, 61);

  vexa::AddLogLine(&lines, "line 62", 60);
  ASSERT_EQ(lines.Count(), 12);
  EXPECT_EQ(lines.Get(0), "line 51");
  EXPECT_EQ(lines.Get(10), "line 61");
  EXPECT_EQ(lines.Get(11), "line 62");
  EXPECT_EQ(redraws, 62) << "dropping and adding redraw once";

  lines.SetDuplicates(fw::dupError);
  lines.SetSorted(true);
  EXPECT_THROW(vexa::AddLogLine(&lines, "line 62", 60), fw::Exception);
  EXPECT_EQ(lines.UpdateCount(), 0);
  const int before = redraws;
  vexa::AddLogLine(&lines, "line 63", 60);
  EXPECT_EQ(redraws, before + 1);
}
