// The solution viewer on Qt's offscreen platform, on files the real solver wrote: opening
// and stepping through records, colours of touching stones, the layer view's cells and
// hover texts, turning the 3D view, following a growing file, and STL and PNG export.

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <string>

#include <gtest/gtest.h>

#include "app/layer_view.h"
#include "app/packing_view.h"
#include "app/solution_viewer.h"
#include "records/stl_export.h"
#include "records/written_packings.h"
#include "solver/solver_test_util.h"

namespace quaderix {
namespace {

using testing::SolverPacking;
using testing::TempDir;

// A shown viewer on the first `records` packings that the solver writes of the mixed puzzle.
struct OpenViewer {
  TempDir dir;
  std::string out = dir.PathOf("sol_00.txt");
  std::vector<SolverPacking> expected;
  SolutionViewer viewer;
  explicit OpenViewer(int records)
      : expected(testing::WritePackings(dir, testing::MixedPuzzle(), out, 0, records)) {
    EXPECT_TRUE(viewer.OpenFile(QString::fromStdString(out)));
    viewer.show();
  }
};

TEST(SolutionViewer, OpensAFileAndStepsThroughItsRecords) {
  OpenViewer v(4);
  auto& [dir, out, expected, viewer] = v;
  ASSERT_EQ(expected.size(), 4u);
  EXPECT_EQ(viewer.RecordCount(), 4);
  auto* next = viewer.findChild<QPushButton*>("nextButton");
  auto* previous = viewer.findChild<QPushButton*>("previousButton");
  auto* list = viewer.findChild<QListView*>("recordList");
  const int steps[] = {0, 1, 1, 1, 1, -1, -1, -1, -1};  // stays put at both ends
  int want = 0;
  for (const int step : steps) {
    if (step > 0) next->click();
    if (step < 0) previous->click();
    want = std::clamp(want + step, 0, 3);
    ASSERT_EQ(viewer.CurrentIndex(), want);
    EXPECT_EQ(list->currentIndex().row(), want);
    EXPECT_EQ(next->isEnabled(), want < 3);
    EXPECT_EQ(previous->isEnabled(), want > 0);
    const Packing& p = viewer.packing();
    EXPECT_EQ(p.solution, expected[want].solution);
    EXPECT_EQ(p.level, expected[want].level);
  }
  // Choosing a row in the list shows that record.
  list->setCurrentIndex(list->model()->index(2, 0));
  EXPECT_EQ(viewer.packing().solution, expected[2].solution);

  const std::string notOurs = dir.WriteFile("puzzle.ini", "[BlockInfo]\n");
  EXPECT_FALSE(viewer.OpenFile(QString::fromStdString(notOurs)));
  EXPECT_EQ(viewer.StatusText().toStdString(),
            notOurs + ": Line 1 is not a \"Solution : <number>\" line.");
  EXPECT_EQ(viewer.RecordCount(), 0);
}

TEST(SolutionViewer, TouchingStonesDifferAndTheLayersShowThem) {
  OpenViewer v(1);
  auto& [dir, out, expected, viewer] = v;
  const Packing& p = viewer.packing();
  const std::vector<QColor>& colours = viewer.pieceColours();
  ASSERT_EQ(colours.size(), p.pieces.size());
  LayerView* layers = viewer.layerView();
  const QImage image = layers->grab().toImage();
  for (int32_t z = 0; z < p.zSize; ++z)
    for (int32_t y = 0; y < p.ySize; ++y)
      for (int32_t x = 0; x < p.xSize; ++x) {
        const int32_t piece = p.piece[p.CellIndex(x, y, z)];
        // Neighbours along x differ also after the palette lookup.
        const int32_t right = x + 1 < p.xSize ? p.piece[p.CellIndex(x + 1, y, z)] : piece;
        EXPECT_TRUE(piece < 0 || right < 0 || right == piece || colours[piece] != colours[right]);
        // A corner pixel inside the cell: its piece's colour, or white for the hole.
        const QRect r = layers->CellRect(x, y, z);
        const QColor shown = image.pixelColor(r.left() + 2, r.top() + 2);
        EXPECT_EQ(shown, piece >= 0 ? colours[piece] : QColor(Qt::white)) << x << y << z;
      }
  const QPoint firstCell = layers->CellRect(0, 0, 0).center();
  EXPECT_EQ(layers->ToolTipAt(firstCell).toStdString(),
            "x 0, y 0, z 0: level 1, stone " + std::to_string(p.StoneOfLevel(1)));
  EXPECT_EQ(layers->ToolTipAt(layers->CellRect(3, 3, 2).center()).toStdString(),
            "x 3, y 3, z 2: hole");
  EXPECT_EQ(layers->ToolTipAt(QPoint(0, 0)), QString());
}

TEST(SolutionViewer, ViewTurnsZoomsAndResets) {
  OpenViewer v(1);
  auto& [dir, out, expected, viewer] = v;
  PackingView* view = viewer.packingView();
  // 4x4x3 less the hole: the outer surface of the block plus the hole's three inner faces.
  EXPECT_EQ(view->FaceCount(), 2u * (16 + 12 + 12) - 3 + 3);
  const QPoint from = view->rect().center();
  QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, from);
  QMouseEvent move(QEvent::MouseMove, QPointF(from + QPoint(40, -20)),
                   view->mapToGlobal(QPointF(from + QPoint(40, -20))), Qt::LeftButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view, &move);
  EXPECT_DOUBLE_EQ(view->yaw(), PackingView::kDefaultYaw + 20);
  EXPECT_DOUBLE_EQ(view->pitch(), PackingView::kDefaultPitch - 10);
  QWheelEvent wheel(QPointF(from), view->mapToGlobal(QPointF(from)), QPoint(), QPoint(0, 240),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(view, &wheel);
  EXPECT_NEAR(view->zoom(), 1.15 * 1.15, 1e-9);
  QTest::keyClick(view, Qt::Key_R);
  EXPECT_EQ(view->yaw(), PackingView::kDefaultYaw);
  EXPECT_EQ(view->pitch(), PackingView::kDefaultPitch);
  EXPECT_EQ(view->zoom(), 1.0);
  // The block fills the middle of the picture; the corners stay background.
  const QImage image = view->grab().toImage();
  const QColor background = image.pixelColor(1, 1);
  EXPECT_NE(image.pixelColor(image.rect().center()), background);
}

TEST(SolutionViewer, FollowShowsTheNewestRecord) {
  TempDir dir;
  const std::string all = dir.PathOf("all.txt");
  testing::WritePackings(dir, testing::MixedPuzzle(), all, 0, 3);
  const std::string text = testing::ReadFileBytes(all);
  const size_t third = text.find("Solution : 3");
  const std::string path = dir.WriteFile("sol_00.txt", text.substr(0, third));
  SolutionViewer viewer;
  ASSERT_TRUE(viewer.OpenFile(QString::fromStdString(path)));
  viewer.SetFollow(true);
  EXPECT_EQ(viewer.CurrentIndex(), 0);                      // nothing new yet: the view stays
  dir.WriteFile("sol_00.txt", text.substr(0, third + 30));  // the third is being written
  viewer.PollFile();
  EXPECT_EQ(viewer.CurrentIndex(), 0);
  dir.WriteFile("sol_00.txt", text);
  viewer.PollFile();
  EXPECT_EQ(viewer.RecordCount(), 3);
  EXPECT_EQ(viewer.packing().solution, 3u);
  viewer.SetFollow(false);
}

TEST(SolutionViewer, ExportsStlAndPng) {
  OpenViewer v(1);
  auto& [dir, out, expected, viewer] = v;
  const std::string stl = dir.PathOf("packing.stl");
  ASSERT_TRUE(viewer.ExportStl(QString::fromStdString(stl)));
  // The solids themselves are checked where they are made; here: the packing in 10 mm cubes.
  EXPECT_EQ(testing::ReadFileBytes(stl), FormatStl(viewer.packing(), 10.0));

  const std::string png = dir.PathOf("view.png");
  ASSERT_TRUE(viewer.ExportPng(QString::fromStdString(png)));
  const QImage image(QString::fromStdString(png));
  EXPECT_EQ(image.size(), viewer.packingView()->size());
  EXPECT_FALSE(viewer.ExportStl(QString::fromStdString(dir.PathOf("missing/x.stl"))));
}

}  // namespace
}  // namespace quaderix

int main(int argc, char** argv) {
  // No display is needed: the viewer draws into memory.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
