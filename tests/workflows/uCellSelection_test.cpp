// Cell selection gestures on a 3 x 3 variables table (columns 2 to 4), drawn as a picture
// of the selected cells: row by row, "x" selected, "." not.
#include "workflows/uCellSelection.h"

#include <gtest/gtest.h>

#include "workflow_support.h"

namespace {

class SelectionTest : public ::testing::Test {
 protected:
  SelectionTest() : table_(2, 3, 0), selection_(recorder_) {
    for (int r = 0; r < 3; ++r) table_.AddRow(nullptr);
  }

  std::string Picture() const {
    std::string picture;
    for (const auto& row : table_.Rows()) {
      if (!picture.empty()) picture += "/";
      for (const auto& cell : row->Cells) picture += cell->Selected ? "x" : ".";
    }
    return picture;
  }

  void Press(int row, int column, bool ctrl = false, bool shift = false) {
    selection_.MousePress(table_, row, column, ctrl, shift);
    selection_.MouseRelease();
  }

  TTreeVar& Cell(int row, int index) { return *table_.RowByPosition(row)->Cell(index); }

  wftest::TRecorder recorder_;
  TVSTTable table_;
  TCellSelection selection_;
};

TEST_F(SelectionTest, ClicksWithAndWithoutModifiers) {
  struct Click {
    int row, column;
    bool ctrl, shift;
  };
  struct Case {
    const char* what;
    std::vector<Click> clicks;
    const char* picture;
  } cases[] = {
      {"a press selects one cell", {{1, 3, false, false}}, ".../.x./..."},
      {"a press clears the rest", {{0, 2, false, false}, {1, 3, false, false}}, ".../.x./..."},
      {"a press on a selected cell keeps it",
       {{1, 3, false, false}, {1, 3, false, false}},
       ".../.x./..."},
      {"Ctrl adds a cell", {{0, 2, false, false}, {2, 4, true, false}}, "x../.../..x"},
      {"Ctrl inverts a cell", {{0, 2, false, false}, {0, 2, true, false}}, ".../.../..."},
      {"Shift selects the rectangle from the anchor",
       {{0, 3, false, false}, {2, 4, false, true}},
       ".xx/.xx/.xx"},
      {"Shift keeps the anchor",
       {{2, 4, false, false}, {0, 3, false, true}, {1, 2, false, true}},
       ".../xxx/xxx"},
      {"Ctrl+Shift is Shift",
       {{0, 2, false, false}, {2, 2, true, false}, {1, 3, true, true}},
       ".../xx./xx."},
      {"a press on the NAD column clears",
       {{0, 2, false, false}, {0, 1, false, false}},
       ".../.../..."},
      {"a press below the last row clears",
       {{0, 2, false, false}, {-1, 3, false, false}},
       ".../.../..."},
      {"Ctrl on the No. column keeps", {{0, 2, false, false}, {1, 0, true, false}}, "x../.../..."},
  };
  for (const Case& c : cases) {
    ClearCellSelection(table_);
    selection_.PivotX = selection_.PivotY = 0;
    for (const Click& k : c.clicks) Press(k.row, k.column, k.ctrl, k.shift);
    EXPECT_EQ(Picture(), c.picture) << c.what;
  }
}

TEST_F(SelectionTest, APressOutsideTheCellsLeavesNoCurrentCellSoEnterEditsNothing) {
  recorder_.EditAccepts = true;
  recorder_.EditAnswer = "5";
  Press(1, 3);
  Press(1, 1);
  EXPECT_EQ(selection_.CurrTreeVar, nullptr);
  selection_.KeyPress(table_, TCellKey::ckEnter, false);
  EXPECT_EQ(recorder_.Edits, 0);
  EXPECT_EQ(Cell(1, 1).Caption(), "");
}

TEST_F(SelectionTest, DraggingSpreadsThePressedCellsNewState) {
  selection_.MousePress(table_, 0, 2, false, false);
  selection_.MouseMove(table_, 1, 3, false, false);
  selection_.MouseMove(table_, 2, 3, false, false);  // the pressed cell stays the corner
  selection_.MouseRelease();
  EXPECT_EQ(Picture(), "xx./xx./xx.");
  selection_.MouseMove(table_, 2, 4, false, false);  // no button held: nothing
  EXPECT_EQ(Picture(), "xx./xx./xx.");

  // Ctrl+drag from a selected cell deselects the rectangle and keeps the others.
  selection_.MousePress(table_, 1, 3, true, false);
  selection_.MouseMove(table_, 2, 3, true, false);
  selection_.MouseRelease();
  EXPECT_EQ(Picture(), "xx./x../x..");
}

TEST_F(SelectionTest, DoubleClickEditsTheSelectionAndItsSecondPressChangesNothing) {
  recorder_.EditAccepts = true;
  recorder_.EditAnswer = "+2.50";
  Press(0, 2);
  selection_.DoubleClick(table_, true);
  Press(0, 2);  // completes the double click
  EXPECT_EQ(Picture(), "x../.../...");
  EXPECT_EQ(recorder_.Edits, 1);
  EXPECT_EQ(Cell(0, 0).Caption(), "+2.50");
  EXPECT_TRUE(Cell(0, 0).AwaitWrite);

  // A toolkit whose double click takes the place of the second press.
  Press(1, 3);
  selection_.DoubleClick(table_, false);
  Press(2, 4);
  EXPECT_EQ(Picture(), ".../.../..x");
  EXPECT_EQ(recorder_.Edits, 2);
}

TEST_F(SelectionTest, ArrowKeysMoveTheCursorAndStopAtTheEdges) {
  struct Key {
    TCellKey key;
    bool shift;
  };
  struct Case {
    const char* what;
    int row, column;
    std::vector<Key> keys;
    const char* picture;
  } cases[] = {
      {"right", 0, 2, {{TCellKey::ckRight, false}}, ".x./.../..."},
      {"down twice", 0, 2, {{TCellKey::ckDown, false}, {TCellKey::ckDown, false}}, ".../.../x.."},
      {"left at the edge selects the cursor cell",
       0,
       2,
       {{TCellKey::ckLeft, false}},
       "x../.../..."},
      {"up at the edge", 0, 3, {{TCellKey::ckUp, false}}, ".x./.../..."},
      {"right past the last column", 0, 4, {{TCellKey::ckRight, false}}, "..x/.../..."},
      {"down past the last row", 2, 2, {{TCellKey::ckDown, false}}, ".../.../x.."},
      {"Shift adds the path, not a rectangle",
       0,
       2,
       {{TCellKey::ckRight, true}, {TCellKey::ckDown, true}, {TCellKey::ckDown, true}},
       "xx./.x./.x."},
  };
  for (const Case& c : cases) {
    Press(c.row, c.column);
    for (const Key& k : c.keys) selection_.KeyPress(table_, k.key, k.shift);
    EXPECT_EQ(Picture(), c.picture) << c.what;
  }
}

TEST_F(SelectionTest, SelectAllDeleteAndEditingSeveralCells) {
  selection_.SelectAll(table_);
  EXPECT_EQ(Picture(), "xxx/xxx/xxx");
  EXPECT_EQ(selection_.CurrTreeVar, &Cell(0, 0));

  Cell(0, 0).SetCaption("1");
  Press(0, 2);
  Press(1, 3, true);
  selection_.Delete(table_);
  EXPECT_EQ(Cell(0, 0).Caption(), "");
  EXPECT_TRUE(Cell(0, 0).AwaitWrite);
  EXPECT_TRUE(Cell(1, 1).AwaitWrite);
  EXPECT_FALSE(Cell(2, 2).AwaitWrite);

  recorder_.EditAccepts = true;
  recorder_.EditAnswer = "7";
  selection_.KeyPress(table_, TCellKey::ckEnter, false);
  EXPECT_EQ(Cell(0, 0).Caption(), "7");
  EXPECT_EQ(Cell(1, 1).Caption(), "7");
  EXPECT_EQ(Cell(2, 2).Caption(), "");

  recorder_.EditAccepts = false;  // cancelled: nothing changes
  recorder_.EditAnswer = "9";
  selection_.KeyPress(table_, TCellKey::ckEnter, false);
  EXPECT_EQ(Cell(0, 0).Caption(), "7");

  TVSTTable empty(2, 3, 0);
  selection_.SelectAll(empty);
  EXPECT_EQ(selection_.CurrTreeVar, &Cell(1, 1)) << "an empty table changes nothing";
}

TEST_F(SelectionTest, ShowingATableClearsItsSelectionAndResetForgetsTheCurrentCell) {
  selection_.SelectAll(table_);
  selection_.TableShown(table_);
  EXPECT_EQ(Picture(), ".../.../...");
  selection_.Reset();
  EXPECT_EQ(selection_.CurrTreeVar, nullptr);
}

TEST(TreeVar, ChangedTellsAKnownValueReplacedByAnother) {
  struct Case {
    const char* before;
    const char* after;
    bool changed;
  } cases[] = {
      {"", "5", false}, {"5", "5", false}, {"5", "6", true}, {"5", "", false}, {"?", "5", true}};
  for (const Case& c : cases) {
    TTreeVar cell;
    cell.SetCaption(c.before);
    cell.SetCaption(c.after);
    EXPECT_EQ(cell.Changed, c.changed) << c.before << " -> " << c.after;
    EXPECT_EQ(cell.Caption(), c.after);
  }
}

}  // namespace
