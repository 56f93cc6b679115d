#include "document/meshwick_doc.h"
#include "document/cell_size_dlg.h"
#include "tests/document/test_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

class RecordingView : public CDocumentView {
 public:
  void RebuildCanvas() override { ++rebuilds; }
  int rebuilds = 0;
};

class ByteLimitGuard {
 public:
  explicit ByteLimitGuard(std::uint64_t limit) : m_saved(platform::BitmapByteLimit()) {
    platform::SetBitmapByteLimit(limit);
  }
  ~ByteLimitGuard() { platform::SetBitmapByteLimit(m_saved); }

 private:
  std::uint64_t m_saved;
};

std::uint32_t Pattern(int x, int y) {
  return static_cast<std::uint32_t>((x * 7) << 16 | (y * 5) << 8 | (x + y));
}

class MeshwickDocTest : public ::testing::Test {
 protected:
  QString Bmp(const char* name, int width, int height, std::uint32_t (*rgb)(int, int) = Pattern) {
    const QString path = m_dir.filePath(name);
    test::WriteFile(path, test::MakeBmp24(width, height, rgb));
    return path;
  }
  // The cell-size dialog is answered with these entries and OK.
  void AnswerCellSize(const QString& width, const QString& height) {
    m_dialogs.onModal = [=, this](QDialog& dialog) {
      auto& cell = dynamic_cast<CCellSizeDlg&>(dialog);
      m_shownWidth = cell.WidthEdit()->text();
      m_shownHeight = cell.HeightEdit()->text();
      cell.WidthEdit()->setText(width);
      cell.HeightEdit()->setText(height);
      cell.OkButton()->click();
      return cell.result();
    };
  }
  void CancelCellSize() {
    m_dialogs.onModal = [this](QDialog& dialog) {
      auto& cell = dynamic_cast<CCellSizeDlg&>(dialog);
      m_shownWidth = cell.WidthEdit()->text();
      m_shownHeight = cell.HeightEdit()->text();
      cell.CancelButton()->click();
      return cell.result();
    };
  }

  QTemporaryDir m_dir;
  test::FakeDialogs m_dialogs;
  CMeshwickDoc m_doc{m_dialogs};
  QString m_shownWidth;
  QString m_shownHeight;
};

TEST_F(MeshwickDocTest, FirstPictureAsksForTheCellSizeAndCancelKeepsItsOwnSize) {
  CancelCellSize();
  const QString path = Bmp("first.bmp", 7, 5);
  ASSERT_TRUE(m_doc.PlacePicture(path, 0, 0));
  EXPECT_EQ(m_dialogs.modalRuns, 1);
  EXPECT_EQ(m_shownWidth, "7");
  EXPECT_EQ(m_shownHeight, "5");
  EXPECT_EQ(m_doc.Rows(), 1);
  EXPECT_EQ(m_doc.Columns(), 1);
  EXPECT_EQ(m_doc.CellWidth(), 7);
  EXPECT_EQ(m_doc.CellHeight(), 5);
  const CPictureDib* cell = m_doc.Cell(0, 0);
  ASSERT_NE(cell, nullptr);
  CPictureDib loaded;
  ASSERT_EQ(loaded.LoadFile(path), S_OK);
  for (int y = 0; y < 5; ++y) EXPECT_EQ(std::memcmp(cell->Row(y), loaded.Row(y), 21), 0);

  // Later pictures do not ask again.
  ASSERT_TRUE(m_doc.PlacePicture(Bmp("second.bmp", 3, 3), 1, 0));
  EXPECT_EQ(m_dialogs.modalRuns, 1);
}

TEST_F(MeshwickDocTest, EnteredCellSizeResamplesEveryPicture) {
  AnswerCellSize("200", "100");
  ASSERT_TRUE(m_doc.PlacePicture(Bmp("big.bmp", 400, 300), 0, 0));
  EXPECT_EQ(m_doc.CellWidth(), 200);
  EXPECT_EQ(m_doc.CellHeight(), 100);
  const CPictureDib* cell = m_doc.Cell(0, 0);
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->Width(), 200);
  EXPECT_EQ(cell->Height(), 100);
  ASSERT_TRUE(m_doc.PlacePicture(Bmp("small.bmp", 30, 90), 0, 1));
  EXPECT_EQ(m_doc.Cell(0, 1)->Width(), 200);
  EXPECT_EQ(m_doc.Cell(0, 1)->Height(), 100);
}

TEST_F(MeshwickDocTest, GridGrowsByAtMostOneColumnAndOneRow) {
  CancelCellSize();
  const QString path = Bmp("p.bmp", 4, 4);
  ASSERT_TRUE(m_doc.PlacePicture(path, 0, 0));
  const CPictureDib* first = m_doc.Cell(0, 0);

  ASSERT_TRUE(m_doc.PlacePicture(path, 1, 0));  // column m_columns of row 0: one more column
  EXPECT_EQ(m_doc.Columns(), 2);
  EXPECT_EQ(m_doc.Rows(), 1);

  ASSERT_TRUE(m_doc.PlacePicture(path, 9, 9));  // beyond both edges: new bottom-right corner
  EXPECT_EQ(m_doc.Columns(), 3);
  EXPECT_EQ(m_doc.Rows(), 2);
  EXPECT_NE(m_doc.Cell(2, 1), nullptr);
  EXPECT_EQ(m_doc.Cell(0, 0), first);  // old cells keep their place
  EXPECT_NE(m_doc.Cell(1, 0), nullptr);
  for (auto [c, r] : {std::pair{2, 0}, {0, 1}, {1, 1}}) EXPECT_EQ(m_doc.Cell(c, r), nullptr) << c << "," << r;

  ASSERT_TRUE(m_doc.PlacePicture(path, 0, 5));  // below: one more row only
  EXPECT_EQ(m_doc.Columns(), 3);
  EXPECT_EQ(m_doc.Rows(), 3);
  EXPECT_NE(m_doc.Cell(0, 2), nullptr);

  EXPECT_FALSE(m_doc.PlacePicture(path, -1, 0));
  EXPECT_EQ(m_doc.Columns(), 3);
}

TEST_F(MeshwickDocTest, UnreadableFirstPictureLeavesTheGridEmptyAndAsksAgainNextTime) {
  CancelCellSize();
  EXPECT_FALSE(m_doc.PlacePicture(m_dir.filePath("absent.bmp"), 0, 0));
  EXPECT_EQ(m_doc.Rows(), 0);
  EXPECT_EQ(m_doc.Columns(), 0);
  EXPECT_EQ(m_doc.Cell(0, 0), nullptr);
  EXPECT_EQ(m_doc.CellWidth(), 0);
  EXPECT_EQ(m_dialogs.modalRuns, 0);

  ASSERT_TRUE(m_doc.PlacePicture(Bmp("p.bmp", 6, 2), 0, 0));
  EXPECT_EQ(m_dialogs.modalRuns, 1);
  EXPECT_EQ(m_doc.CellWidth(), 6);
  EXPECT_EQ(m_doc.CellHeight(), 2);
}

// Everything the grid shows: its size, the cell size and which picture is in which cell.
struct GridState {
  int columns, rows, cellWidth, cellHeight;
  std::vector<const CPictureDib*> cells;
  bool operator==(const GridState&) const = default;
};

GridState StateOf(const CMeshwickDoc& doc) {
  GridState state{doc.Columns(), doc.Rows(), doc.CellWidth(), doc.CellHeight(), {}};
  for (int r = 0; r < doc.Rows(); ++r)
    for (int c = 0; c < doc.Columns(); ++c) state.cells.push_back(doc.Cell(c, r));
  return state;
}

test::Bytes Cut(const test::Bytes& bytes, std::size_t keep) {
  return test::Bytes(bytes.begin(),
                     bytes.begin() + static_cast<std::ptrdiff_t>(std::min(keep, bytes.size())));
}

std::size_t StartOfScan(const test::Bytes& jpeg) {
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) return i;
  return jpeg.size();
}

// A file that cannot be placed, in whatever cell, names itself and its reason and leaves
// the grid exactly as it was: no new column right of the grid, no new row below it.
TEST_F(MeshwickDocTest, PictureThatCannotBePlacedIsReportedAndLeavesTheGridAlone) {
  const test::Bytes bmp = test::MakeBmp24(6, 4, Pattern);
  const test::Bytes jpeg = test::ReadFile(test::DataPath("jpeg/p97_420.jpg"));
  ASSERT_FALSE(jpeg.empty());
  test::BmpSpec odd;
  odd.bits = 7;
  test::Bytes hugeHeader = test::MakeBmp(test::BmpSpec{});
  test::Put32(hugeHeader, 18, 100000);
  test::Put32(hugeHeader, 22, 100000);
  const struct {
    const char* name;
    test::Bytes bytes;
    const char* reason;
  } cases[] = {
      {"text.bmp", {'h', 'e', 'l', 'l', 'o'}, "不是 JPEG 或 BMP 图片"},
      {"empty.jpg", {}, "不是 JPEG 或 BMP 图片"},
      {"rows-cut.bmp", Cut(bmp, bmp.size() - 5), "文件不完整（已被截断）"},
      {"header-cut.bmp", Cut(bmp, 30), "文件不完整（已被截断）"},
      {"soi-only.jpg", Cut(jpeg, 2), "文件不完整（已被截断）"},
      {"tables-only.jpg", Cut(jpeg, 20), "文件不完整（已被截断）"},
      {"no-scan.jpg", Cut(jpeg, StartOfScan(jpeg)), "文件不完整（已被截断）"},
      {"seven-bit.bmp", test::MakeBmp(odd), "不支持这种图片"},
      {"huge.bmp", hugeHeader, "图片太大"},
  };
  CancelCellSize();
  ASSERT_TRUE(m_doc.PlacePicture(Bmp("p.bmp", 4, 4), 0, 0));
  ASSERT_TRUE(m_doc.PlacePicture(Bmp("p.bmp", 4, 4), 1, 0));
  for (const auto& c : cases) {
    const QString path = m_dir.filePath(c.name);
    test::WriteFile(path, c.bytes);
    for (const auto& [column, row] : {std::pair{0, 0}, {2, 0}, {0, 1}, {7, 7}}) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(column) + "," + std::to_string(row));
      const GridState before = StateOf(m_doc);
      m_dialogs.messages.clear();
      EXPECT_FALSE(m_doc.PlacePicture(path, column, row));
      EXPECT_EQ(StateOf(m_doc), before);
      ASSERT_EQ(m_dialogs.messages.size(), 1);
      EXPECT_EQ(m_dialogs.messages.front(), QString("无法放入图片“%1”：%2。").arg(path, c.reason));
    }
  }
  m_dialogs.messages.clear();
  EXPECT_FALSE(m_doc.PlacePicture(m_dir.filePath("absent.jpg"), 2, 0));
  EXPECT_EQ(m_dialogs.messages,
            QStringList{QString("无法放入图片“%1”：无法打开文件。").arg(m_dir.filePath("absent.jpg"))});
}

TEST_F(MeshwickDocTest, OnlyAPlacedPictureMarksTheGridModified) {
  int changes = 0;
  m_doc.SetChangeListener([&changes] { ++changes; });
  CancelCellSize();
  EXPECT_FALSE(m_doc.PlacePicture(m_dir.filePath("absent.bmp"), 0, 0));
  EXPECT_FALSE(m_doc.IsModified());
  ASSERT_TRUE(m_doc.PlacePicture(Bmp("p.bmp", 4, 4), 0, 0));
  EXPECT_TRUE(m_doc.IsModified());
  EXPECT_GT(changes, 0);
  EXPECT_TRUE(m_doc.SaveModified() == false);  // the fake answers 取消
  EXPECT_EQ(m_dialogs.questions, QStringList{"是否保存对“无标题”的更改？"});
  m_doc.OnNewDocument();
  EXPECT_FALSE(m_doc.IsModified());
  EXPECT_TRUE(m_doc.SaveModified());
  EXPECT_EQ(m_dialogs.questions.size(), 1);
}

TEST_F(MeshwickDocTest, JpegLargerThanTheBitmapLimitIsTooLarge) {
  const QString path = test::DataPath("jpeg/p97_420.jpg");
  ByteLimitGuard guard(1000);  // 97 x 97 needs 28 KB
  EXPECT_EQ(m_doc.TryPlacePicture(path, 0, 0), PictureProblem::TooLarge);
  EXPECT_EQ(m_doc.Columns(), 0);
  EXPECT_EQ(m_dialogs.modalRuns, 0);
}

// The cell's picture is replaced only once the new one is ready.
TEST_F(MeshwickDocTest, UnreadableReplacementKeepsThePreviousPicture) {
  CancelCellSize();
  ASSERT_TRUE(m_doc.PlacePicture(Bmp("p.bmp", 4, 4), 0, 0));
  const CPictureDib* before = m_doc.Cell(0, 0);
  test::WriteFile(m_dir.filePath("broken.bmp"), test::Bytes{'B', 'M', 1, 2, 3});
  EXPECT_FALSE(m_doc.PlacePicture(m_dir.filePath("broken.bmp"), 0, 0));
  EXPECT_EQ(m_doc.Cell(0, 0), before);
  EXPECT_TRUE(before->HasBitmap());
  EXPECT_EQ(before->Width(), 4);
}

TEST_F(MeshwickDocTest, ResamplingFailureKeepsThePreviousPicture) {
  AnswerCellSize("50", "50");
  ASSERT_TRUE(m_doc.PlacePicture(Bmp("p.bmp", 50, 50), 0, 0));
  const CPictureDib* before = m_doc.Cell(0, 0);
  const QString smaller = Bmp("q.bmp", 20, 20);
  {
    ByteLimitGuard guard(20 * 60);  // the 20x20 file loads; a 50x50 section (7600 bytes) cannot be made
    EXPECT_FALSE(m_doc.PlacePicture(smaller, 0, 0));
  }
  EXPECT_EQ(m_doc.Cell(0, 0), before);
}

TEST_F(MeshwickDocTest, PicturesOfOtherDepthsArePlacedAs24BitWithTheirPalette) {
  CancelCellSize();
  test::BmpSpec descriptor;
  descriptor.width = 3;
  descriptor.height = 2;
  descriptor.bits = 8;
  descriptor.palette = {0x000000, 0xff8000, 0x0000ff};
  descriptor.clrUsed = 3;
  descriptor.rows = {{1, 2, 0}, {0, 1, 2}};
  const QString path = m_dir.filePath("p8.bmp");
  test::WriteFile(path, test::MakeBmp(descriptor));
  ASSERT_TRUE(m_doc.PlacePicture(path, 0, 0));
  const CPictureDib* cell = m_doc.Cell(0, 0);
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->BitsPerPixel(), 24);
  const std::uint8_t top[] = {0x00, 0x80, 0xff, 0xff, 0x00, 0x00, 0, 0, 0};
  EXPECT_EQ(std::memcmp(cell->Row(0), top, 9), 0);

  // Resampling then works per colour channel, as for any other picture.
  descriptor.width = 6;
  descriptor.height = 4;
  descriptor.rows = {{1, 1, 2, 2, 0, 0}, {1, 1, 2, 2, 0, 0}, {0, 0, 1, 1, 2, 2}, {0, 0, 1, 1, 2, 2}};
  const QString bigger = m_dir.filePath("p8big.bmp");
  test::WriteFile(bigger, test::MakeBmp(descriptor));
  ASSERT_TRUE(m_doc.PlacePicture(bigger, 1, 0));
  EXPECT_EQ(std::memcmp(m_doc.Cell(1, 0)->Row(0), top, 9), 0);
}

TEST_F(MeshwickDocTest, CompositeOfTwoRowsOfThreeWithAnEmptyCellIsWhiteThere) {
  CancelCellSize();
  auto solid = [](std::uint32_t colour) {
    return test::MakeBmp24(10, 10, [colour](int, int) { return colour; });
  };
  const std::uint32_t colours[] = {0x112233, 0x445566, 0x778899, 0xaabbcc, 0xddeeff};
  int n = 0;
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c) {
      if (r == 1 && c == 1) continue;  // left empty
      const QString path = m_dir.filePath(QString("c%1.bmp").arg(n));
      test::WriteFile(path, solid(colours[n++]));
      ASSERT_TRUE(m_doc.PlacePicture(path, c, r));
    }
  ASSERT_EQ(m_doc.Columns(), 3);
  ASSERT_EQ(m_doc.Rows(), 2);
  auto composite = m_doc.BuildComposite();
  ASSERT_TRUE(composite);
  EXPECT_EQ(composite->Width(), 30);
  EXPECT_EQ(composite->Height(), 20);
  EXPECT_EQ(composite->BitsPerPixel(), 24);
  EXPECT_EQ(composite->RowStep(), 92);
  const std::uint32_t expected[2][3] = {{colours[0], colours[1], colours[2]},
                                        {colours[3], 0xffffff, colours[4]}};
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 30; ++x) {
      const std::uint8_t* p = composite->Row(y) + 3 * x;
      ASSERT_EQ(static_cast<std::uint32_t>(p[2] << 16 | p[1] << 8 | p[0]), expected[y / 10][x / 10])
          << x << "," << y;
    }
    EXPECT_EQ(composite->Row(y)[90], 255);
    EXPECT_EQ(composite->Row(y)[91], 255);
  }
}

TEST_F(MeshwickDocTest, TwoRowsOfThreeSavedAsJpegDecodeWithTheEmptyCellWhite) {
  CancelCellSize();
  const std::uint32_t colours[] = {0x204080, 0x40a020, 0xc03010, 0x808080, 0x10c0c0};
  int n = 0;
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c) {
      if (r == 1 && c == 1) continue;  // left empty
      const std::uint32_t colour = colours[n];
      const QString path = m_dir.filePath(QString("c%1.bmp").arg(n++));
      test::WriteFile(path, test::MakeBmp24(10, 10, [colour](int, int) { return colour; }));
      ASSERT_TRUE(m_doc.PlacePicture(path, c, r));
    }
  const QString target = m_dir.filePath("grid.jpg");
  m_dialogs.saveAnswers.push_back(target);
  ASSERT_TRUE(m_doc.OnCommand(platform::ID_FILE_SAVE_AS));
  EXPECT_TRUE(m_dialogs.messages.isEmpty());

  CPictureDib decoded;
  ASSERT_EQ(decoded.LoadFile(target), S_OK);
  ASSERT_EQ(decoded.Width(), 30);
  ASSERT_EQ(decoded.Height(), 20);
  // Quality 100 with 4:2:0: cells are 10 pixels, so every 2x2 chroma pair stays inside one cell
  // and only the transform's rounding and colour conversion move a byte, by a few levels.
  constexpr int kTolerance = 6;
  const std::uint32_t expected[2][3] = {{colours[0], colours[1], colours[2]},
                                        {colours[3], 0xffffff, colours[4]}};
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) {
      const std::uint32_t want = expected[y / 10][x / 10];
      const std::uint8_t* p = decoded.Row(y) + 3 * x;
      for (int c = 0; c < 3; ++c) {
        const int wanted = static_cast<int>((want >> (8 * c)) & 0xff);  // B, G, R in memory
        ASSERT_LE(std::abs(p[c] - wanted), kTolerance) << x << "," << y << " channel " << c;
      }
    }
}

TEST_F(MeshwickDocTest, SaveAsWritesTheCompositeWhereTheUserChose) {
  CancelCellSize();
  const QString source = Bmp("p.bmp", 10, 10);
  ASSERT_TRUE(m_doc.PlacePicture(source, 0, 0));
  const QString target = m_dir.filePath("grid.bmp");
  m_dialogs.saveAnswers.push_back(target);
  ASSERT_TRUE(m_doc.OnCommand(platform::ID_FILE_SAVE_AS));
  EXPECT_EQ(m_dialogs.saveFilters, (QStringList{"JPEG Files (*.jpg *.jpeg)", "Bitmap Files (*.bmp)"}));
  EXPECT_EQ(m_dialogs.saveSuffix, "jpg");
  EXPECT_TRUE(m_dialogs.messages.isEmpty());
  const test::Bytes written = test::ReadFile(target);
  ASSERT_EQ(written.size(), 374u);
  // 1x1 grid: the source's headers and pixels; the composite pads its rows with 255.
  const test::Bytes original = test::ReadFile(source);
  EXPECT_TRUE(std::equal(written.begin(), written.begin() + 54, original.begin()));
  for (std::size_t row = 0; row < 10; ++row) {
    const std::size_t at = 54 + 32 * row;
    EXPECT_TRUE(std::equal(written.begin() + at, written.begin() + at + 30, original.begin() + at)) << row;
    EXPECT_EQ(written[at + 30], 255);
    EXPECT_EQ(written[at + 31], 255);
  }
}

TEST_F(MeshwickDocTest, CancelledSaveWritesNothing) {
  CancelCellSize();
  ASSERT_TRUE(m_doc.PlacePicture(Bmp("p.bmp", 4, 4), 0, 0));
  m_dialogs.saveAnswers.push_back(QString());
  m_doc.OnFileSaveAs();
  EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{"p.bmp"});
  EXPECT_TRUE(m_dialogs.messages.isEmpty());
}

TEST_F(MeshwickDocTest, FailedSaveTellsTheUser) {
  CancelCellSize();
  ASSERT_TRUE(m_doc.PlacePicture(Bmp("p.bmp", 4, 4), 0, 0));
  m_dialogs.saveAnswers.push_back(m_dir.filePath("missing/folder/grid.bmp"));
  m_doc.OnFileSaveAs();
  EXPECT_EQ(m_dialogs.messages, QStringList{"无法保存文件"});
}

TEST_F(MeshwickDocTest, CompositeThatCannotBeMadeShowsCannotCreateDib) {
  CancelCellSize();
  for (int c = 0; c < 3; ++c) ASSERT_TRUE(m_doc.PlacePicture(Bmp("p.bmp", 10, 10), c, 0));
  m_dialogs.saveAnswers.push_back(m_dir.filePath("grid.bmp"));
  {
    ByteLimitGuard guard(10 * 92 - 1);
    m_doc.OnFileSaveAs();
  }
  EXPECT_EQ(m_dialogs.messages, QStringList{"Cannot create DIB"});
  EXPECT_FALSE(QFile::exists(m_dir.filePath("grid.bmp")));
}

TEST_F(MeshwickDocTest, SaveAsIsEnabledExactlyWhileTheGridHasACellAndACellSize) {
  platform::CommandUi ui{platform::ID_FILE_SAVE_AS};
  ASSERT_TRUE(m_doc.OnUpdateCommand(ui));
  EXPECT_FALSE(ui.enabled);
  CancelCellSize();
  EXPECT_FALSE(m_doc.PlacePicture(m_dir.filePath("absent.bmp"), 0, 0));  // no cell size yet
  ASSERT_TRUE(m_doc.OnUpdateCommand(ui));
  EXPECT_FALSE(ui.enabled);
  ASSERT_TRUE(m_doc.PlacePicture(Bmp("p.bmp", 4, 4), 0, 0));
  ASSERT_TRUE(m_doc.OnUpdateCommand(ui));
  EXPECT_TRUE(ui.enabled);
  m_doc.OnNewDocument();
  ASSERT_TRUE(m_doc.OnUpdateCommand(ui));
  EXPECT_FALSE(ui.enabled);
  platform::CommandUi other{platform::ID_EDIT_COPY};
  EXPECT_FALSE(m_doc.OnUpdateCommand(other));
  EXPECT_FALSE(m_doc.HandlesCommand(platform::ID_EDIT_COPY));
}

TEST_F(MeshwickDocTest, NewDocumentEmptiesTheGridRebuildsTheViewAndAsksAgain) {
  RecordingView view;
  m_doc.AddView(&view);
  CancelCellSize();
  ASSERT_TRUE(m_doc.PlacePicture(Bmp("p.bmp", 4, 4), 0, 0));
  ASSERT_TRUE(m_doc.OnNewDocument());
  EXPECT_EQ(view.rebuilds, 1);
  EXPECT_EQ(m_doc.Rows(), 0);
  EXPECT_EQ(m_doc.Columns(), 0);
  EXPECT_EQ(m_doc.CellWidth(), 0);
  EXPECT_EQ(m_doc.CellHeight(), 0);
  EXPECT_EQ(m_doc.Cell(0, 0), nullptr);
  ASSERT_TRUE(m_doc.PlacePicture(Bmp("p.bmp", 4, 4), 0, 0));
  EXPECT_EQ(m_dialogs.modalRuns, 2);
  m_doc.RemoveView(&view);
}

TEST_F(MeshwickDocTest, OpeningAFileChangesOnlyPathAndTitle) {
  EXPECT_EQ(m_doc.GetTitle(), "无标题");
  CancelCellSize();
  ASSERT_TRUE(m_doc.PlacePicture(Bmp("p.bmp", 4, 4), 0, 0));
  const CPictureDib* cell = m_doc.Cell(0, 0);
  ASSERT_TRUE(m_doc.OnOpenDocument(Bmp("other.bmp", 2, 2)));
  EXPECT_EQ(m_doc.GetTitle(), "other.bmp");
  EXPECT_EQ(m_doc.Cell(0, 0), cell);
  EXPECT_EQ(m_doc.Rows(), 1);
  EXPECT_FALSE(m_doc.OnOpenDocument(m_dir.filePath("absent")));
  EXPECT_EQ(m_doc.GetTitle(), "other.bmp");
}

class CellSizeDlgTest : public ::testing::Test {
 protected:
  test::FakeDialogs m_dialogs;
  CCellSizeDlg m_dialog{640, 480, m_dialogs};
};

TEST_F(CellSizeDlgTest, ShowsItsTextsAndTheInitialSize) {
  EXPECT_EQ(m_dialog.windowTitle(), "设定预设高宽");
  QStringList labels;
  for (const QLabel* label : m_dialog.findChildren<QLabel*>()) labels << label->text();
  EXPECT_EQ(labels, (QStringList{"宽", "高"}));
  EXPECT_EQ(m_dialog.OkButton()->text(), "确定");
  EXPECT_EQ(m_dialog.CancelButton()->text(), "取消");
  EXPECT_TRUE(m_dialog.OkButton()->isDefault());
  EXPECT_EQ(m_dialog.WidthEdit()->text(), "640");
  EXPECT_EQ(m_dialog.HeightEdit()->text(), "480");
  EXPECT_EQ(m_dialog.WidthEdit()->objectName(), "IDC_CELL_WIDTH");
  EXPECT_EQ(m_dialog.HeightEdit()->objectName(), "IDC_CELL_HEIGHT");
}

TEST_F(CellSizeDlgTest, OnlyWholeNumbersFromOneUpCloseTheDialog) {
  struct Case {
    const char* width;
    const char* height;
  } bad[] = {{"0", "10"},   {"10", "0"}, {"-5", "10"},  {"10", "-1"},
             {"abc", "10"}, {"", "10"},  {"1.5", "10"}, {"10", "99999999999"}};
  for (const Case& c : bad) {
    SCOPED_TRACE(std::string(c.width) + " x " + c.height);
    m_dialogs.messages.clear();
    m_dialog.WidthEdit()->setText(c.width);
    m_dialog.HeightEdit()->setText(c.height);
    m_dialog.OkButton()->click();
    EXPECT_NE(m_dialog.result(), QDialog::Accepted);
    EXPECT_EQ(m_dialogs.messages.size(), 1);
    EXPECT_EQ(m_dialog.m_nWidth, 640);
    EXPECT_EQ(m_dialog.m_nHeight, 480);
  }
  m_dialog.WidthEdit()->setText(" 1 ");
  m_dialog.HeightEdit()->setText("2");
  m_dialog.OkButton()->click();
  EXPECT_EQ(m_dialog.result(), QDialog::Accepted);
  EXPECT_EQ(m_dialog.m_nWidth, 1);
  EXPECT_EQ(m_dialog.m_nHeight, 2);
}

// A cell whose 24-bit bitmap would pass the byte limit could never hold a picture.
TEST_F(CellSizeDlgTest, SizeWhoseCellBitmapPassesTheByteLimitIsRefusedAndTheDialogStaysOpen) {
  ByteLimitGuard guard(1200);  // 20 x 20: stride 60, 1200 bytes
  struct Case {
    const char* width;
    const char* height;
    bool fits;
  } cases[] = {{"20", "20", true},        {"20", "21", false},         {"21", "20", false},
               {"1", "300", true},        {"1", "301", false},         {"400", "1", true},
               {"401", "1", false},       {"100000", "100000", false}, {"1", "2147483647", false},
               {"2147483647", "1", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.width) + " x " + c.height);
    test::FakeDialogs dialogs;
    CCellSizeDlg dialog(5, 5, dialogs);
    dialog.WidthEdit()->setText(c.width);
    dialog.HeightEdit()->setText(c.height);
    dialog.OkButton()->click();
    EXPECT_EQ(dialog.result() == QDialog::Accepted, c.fits);
    EXPECT_EQ(dialogs.messages.size(), c.fits ? 0 : 1);
    if (!c.fits) {
      EXPECT_TRUE(dialogs.messages.front().startsWith("单元格太大"))
          << dialogs.messages.front().toStdString();
      EXPECT_EQ(dialog.m_nWidth, 5);
      EXPECT_EQ(dialog.m_nHeight, 5);
    }
  }
}

TEST(CellBitmapFitsTest, FollowsTheRowStrideAndTheByteLimit) {
  ByteLimitGuard guard(4 * 10);
  EXPECT_TRUE(CellBitmapFits(1, 10));  // stride 4
  EXPECT_FALSE(CellBitmapFits(1, 11));
  EXPECT_TRUE(CellBitmapFits(2, 5));  // stride 8
  EXPECT_FALSE(CellBitmapFits(2, 6));
  EXPECT_FALSE(CellBitmapFits(0, 1));
  EXPECT_FALSE(CellBitmapFits(1, 0));
  EXPECT_FALSE(CellBitmapFits(-1, 1));
}

TEST_F(CellSizeDlgTest, CancelKeepsTheInitialValues) {
  m_dialog.WidthEdit()->setText("5");
  m_dialog.CancelButton()->click();
  EXPECT_EQ(m_dialog.result(), QDialog::Rejected);
  EXPECT_EQ(m_dialog.m_nWidth, 640);
  EXPECT_TRUE(m_dialogs.messages.isEmpty());
}

}  // namespace
