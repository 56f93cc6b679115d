// meshwick-grid run as a user runs it: bad pictures, bad command lines, what is left on disk.
#include "tests/tools/grid_test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using grid_test::Arguments;
using grid_test::RunGrid;

const int kFailure = 1;
const int kUsage = 2;

class GridToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    const test::Bytes jpeg = test::ReadFile(test::DataPath("jpeg/p97_420.jpg"));
    test::WriteFile(Path("good.jpg"), jpeg);
    test::WriteFile(Path("truncated.jpg"), test::Bytes(jpeg.begin(), jpeg.begin() + 700));
    test::WriteFile(Path("empty.jpg"), {});
    test::WriteFile(Path("text.bmp"), test::Bytes{'h', 'e', 'l', 'l', 'o'});
    test::WriteFile(Path("red.bmp"), test::MakeBmp24(97, 61, [](int, int) { return 0xFF0000u; }));
  }

  QString Path(const QString& name) const { return m_dir.filePath(name); }
  grid_test::ToolRun Run(const QString& arguments) {
    return RunGrid(arguments, m_dir.filePath("stderr.txt"));
  }
  // Every file in the directory other than the inputs SetUp wrote.
  QStringList Leftovers() const {
    QStringList files = QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden);
    for (const char* input : {"good.jpg", "truncated.jpg", "empty.jpg", "text.bmp", "red.bmp"})
      files.removeAll(input);
    return files;
  }

  QTemporaryDir m_dir;
};

struct BadPictureCase {
  const char* picture;
  const char* reason;  // part of the message that says why
};

TEST_F(GridToolTest, UnreadablePictureFailsNamingItAndLeavesNoFile) {
  const BadPictureCase cases[] = {
      {"missing.jpg", "No such file or directory"},
      {"truncated.jpg", "cut short"},
      {"empty.jpg", "neither a JPEG nor a BMP"},
      {"text.bmp", "neither a JPEG nor a BMP"},
  };
  for (const bool exact : {false, true}) {
    for (const auto& c : cases) {
      const QString options = exact ? "--exact " : "";
      const auto run =
          Run(options + "-o '" + Path("out.jpg") + "'" + Arguments({Path("good.jpg"), Path(c.picture)}));
      EXPECT_EQ(run.exitCode, kFailure) << c.picture;
      EXPECT_NE(run.errors.find(Path(c.picture).toStdString()), std::string::npos) << run.errors;
      EXPECT_NE(run.errors.find(c.reason), std::string::npos) << run.errors;
      EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();
    }
  }
}

TEST_F(GridToolTest, UnreadablePictureKeepsAnExistingOutputAsItWas) {
  const test::Bytes before{'o', 'l', 'd'};
  test::WriteFile(Path("out.bmp"), before);
  const auto run = Run("-o '" + Path("out.bmp") + "'" + Arguments({Path("truncated.jpg")}));
  EXPECT_EQ(run.exitCode, kFailure);
  EXPECT_EQ(test::ReadFile(Path("out.bmp")), before);
  EXPECT_EQ(Leftovers(), QStringList{"out.bmp"});
}

TEST_F(GridToolTest, SkipBadLeavesTheCellWhiteAndWarns) {
  // The bad picture first, so the next readable one gives the cell size.
  const QStringList pictures = {Path("truncated.jpg"), Path("red.bmp"), Path("missing.bmp"), Path("red.bmp")};
  const auto run = Run("--skip-bad -o '" + Path("out.bmp") + "'" + Arguments(pictures));
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  for (const char* bad : {"truncated.jpg", "missing.bmp"})
    EXPECT_NE(run.errors.find("warning: skipped " + Path(bad).toStdString()), std::string::npos)
        << run.errors;

  test::Ppm grid;
  ASSERT_EQ(
      std::system(("convert '" + Path("out.bmp").toStdString() + "' '" + Path("out.ppm").toStdString() + "'")
                      .c_str()),
      0);
  grid = test::ReadPpm(Path("out.ppm"));
  ASSERT_EQ(grid.width, 2 * 97);
  ASSERT_EQ(grid.height, 2 * 61);
  const struct {
    int x, y;
    std::uint32_t rgb;
  } probes[] = {
      {10, 10, 0xFFFFFF}, {97 + 10, 10, 0xFF0000}, {10, 61 + 10, 0xFFFFFF}, {97 + 96, 61 + 60, 0xFF0000}};
  for (const auto& p : probes) EXPECT_EQ(grid.At(p.x, p.y), p.rgb) << p.x << "," << p.y;
}

TEST_F(GridToolTest, SkipBadWithNothingReadableFails) {
  for (const char* options : {"--skip-bad", "--skip-bad --cell 10x10"}) {
    const auto run = Run(QString(options) + " -o '" + Path("out.jpg") + "'" +
                         Arguments({Path("empty.jpg"), Path("text.bmp")}));
    EXPECT_EQ(run.exitCode, kFailure) << options;
    EXPECT_NE(run.errors.find("none of the pictures"), std::string::npos) << run.errors;
    EXPECT_TRUE(Leftovers().isEmpty()) << options;
  }
}

TEST_F(GridToolTest, UnwritableOutputFailsNamingIt) {
  const QString output = Path("no-such-folder/out.jpg");
  const auto run = Run("-o '" + output + "'" + Arguments({Path("good.jpg")}));
  EXPECT_EQ(run.exitCode, kFailure);
  EXPECT_NE(run.errors.find("cannot write " + output.toStdString()), std::string::npos) << run.errors;
  EXPECT_TRUE(Leftovers().isEmpty());
}

struct UsageCase {
  const char* name;
  const char* arguments;  // %good stands for a readable picture, %out for the output path
  const char* message;
};

TEST_F(GridToolTest, UsageErrorsExitTwoAndWriteNothing) {
  const UsageCase cases[] = {
      {"no pictures", "-o %out", "no pictures"},
      {"no output", "%good", "--output"},
      {"unknown option", "--frobnicate -o %out %good", "--frobnicate"},
      {"cell of zero width", "--cell 0x10 -o %out %good", "0x10"},
      {"cell of zero height", "--cell 10x0 -o %out %good", "10x0"},
      {"cell not WxH", "--cell big -o %out %good", "--cell"},
      {"zero columns", "--columns 0 -o %out %good", "--columns"},
      {"zero jobs", "--jobs 0 -o %out %good", "--jobs"},
      {"grid above the bitmap limit", "--cell 30000x30000 -o %out %good", "bitmap limit"},
      {"grid above the limit from the first picture", "--columns 100000 -o %out %good", "bitmap limit"},
      {"JPEG side above 65535", "--cell 70000x1 -o %out %good", "65535"},
  };
  for (const auto& c : cases) {
    QString arguments = QString(c.arguments)
                            .replace("%good", QString::fromStdString(grid_test::Quoted(Path("good.jpg"))))
                            .replace("%out", QString::fromStdString(grid_test::Quoted(Path("out.jpg"))));
    const auto run = Run(arguments);
    EXPECT_EQ(run.exitCode, kUsage) << c.name << ": " << run.errors;
    EXPECT_NE(run.errors.find(c.message), std::string::npos) << c.name << ": " << run.errors;
    EXPECT_TRUE(Leftovers().isEmpty()) << c.name;
  }
}

TEST_F(GridToolTest, NoProgressLineWhenStandardErrorIsNotATerminal) {
  const QStringList pictures = {Path("good.jpg"), Path("red.bmp"), Path("good.jpg")};
  const auto run = Run("-o '" + Path("out.jpg") + "'" + Arguments(pictures));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.errors, "");
}

TEST_F(GridToolTest, SameGridOnOneThreadAndOnMany) {
  QStringList pictures;
  for (const char* name :
       {"jpeg/p256_420.jpg", "jpeg/p256_grey.jpg", "jpeg/p97_420_progressive.jpg", "bmp/pal8-41x3.bmp",
        "jpeg/p256_444.jpg", "jpeg/p97_411.jpg", "jpeg/p256_420_q100.jpg"})
    pictures << test::DataPath(name);
  for (const char* cell : {"40x30", "100x80", "256x192"}) {
    const QString common = QString("--quiet --cell ") + cell;
    ASSERT_EQ(Run(common + " --jobs 1 -o '" + Path("one.jpg") + "'" + Arguments(pictures)).exitCode, 0);
    ASSERT_EQ(Run(common + " --jobs 5 -o '" + Path("many.jpg") + "'" + Arguments(pictures)).exitCode, 0);
    EXPECT_TRUE(test::ReadFile(Path("one.jpg")) == test::ReadFile(Path("many.jpg"))) << cell;
  }
}

}  // namespace
