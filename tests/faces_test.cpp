// The toolbar's checked-in face bitmaps: file and bitmap headers, palette,
// size, the silver margin, the navy outline around the blue symbols and the
// white or black edge lines of the normal and pressed faces.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kSide = 32;
constexpr std::size_t kDibSize = 616;  // the resource: bitmap header, palette, pixels
constexpr std::size_t kFileSize = 14 + kDibSize;

constexpr std::uint8_t kBlack = 0;
constexpr std::uint8_t kNavy = 4;
constexpr std::uint8_t kSilver = 8;
constexpr std::uint8_t kBlue = 12;
constexpr std::uint8_t kWhite = 15;

struct FaceFile {
  int id;
  const char* name;
  int shapes;  // separate symbol parts: bars, triangles, squares
};

constexpr FaceFile kFaces[] = {
    {100, "100-skip-back-normal.bmp", 3},    {101, "101-skip-back-pressed.bmp", 3},
    {102, "102-play-normal.bmp", 1},         {103, "103-play-pressed.bmp", 1},
    {104, "104-pause-normal.bmp", 2},        {105, "105-pause-pressed.bmp", 2},
    {106, "106-stop-normal.bmp", 1},         {107, "107-stop-pressed.bmp", 1},
    {108, "108-skip-forward-normal.bmp", 3}, {109, "109-skip-forward-pressed.bmp", 3},
};

// The standard 16-colour palette, as red, green, blue.
constexpr std::uint8_t kPalette[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {128, 128, 128}, {192, 192, 192}, {255, 0, 0},     {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return bytes;
  int c;
  while ((c = std::fgetc(in)) != EOF) bytes.push_back(static_cast<std::uint8_t>(c));
  std::fclose(in);
  return bytes;
}

std::uint32_t Read32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint16_t Read16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

// Pixels as palette indices, [y][x] with y downwards.
struct Face {
  std::uint8_t pixel[kSide][kSide];
  std::uint8_t At(int x, int y) const {
    return x < 0 || y < 0 || x >= kSide || y >= kSide ? kSilver : pixel[y][x];
  }
  // Part of a symbol's inside: the fill and its edge line.
  bool Inside(int x, int y) const {
    const std::uint8_t c = At(x, y);
    return c == kBlue || c == kWhite || c == kBlack;
  }
};

Face DecodePixels(const std::vector<std::uint8_t>& file) {
  Face face;
  const std::size_t offset = Read32(file, 10);
  for (int row = 0; row < kSide; ++row) {
    const int y = kSide - 1 - row;  // bottom row first
    for (int x = 0; x < kSide; ++x) {
      const std::uint8_t byte = file[offset + row * 16 + x / 2];
      face.pixel[y][x] = x % 2 == 0 ? byte >> 4 : byte & 15;
    }
  }
  return face;
}

std::string Path(const FaceFile& face) {
  return std::string(TW_RESOURCES_DIR "/") + face.name;
}

// Counts the symbol parts: groups of inside pixels joined side by side.
int CountShapes(const Face& face) {
  bool seen[kSide][kSide] = {};
  int shapes = 0;
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      if (!face.Inside(x, y) || seen[y][x]) continue;
      ++shapes;
      std::vector<std::pair<int, int>> stack = {{x, y}};
      seen[y][x] = true;
      while (!stack.empty()) {
        const auto [px, py] = stack.back();
        stack.pop_back();
        const int steps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
        for (const auto& step : steps) {
          const int nx = px + step[0], ny = py + step[1];
          if (face.Inside(nx, ny) && !seen[ny][nx]) {
            seen[ny][nx] = true;
            stack.push_back({nx, ny});
          }
        }
      }
    }
  }
  return shapes;
}

TEST(Faces, FileAndBitmapHeadersDescribeA32By32SixteenColourBitmap) {
  for (const FaceFile& face : kFaces) {
    SCOPED_TRACE(face.name);
    const std::vector<std::uint8_t> file = ReadFile(Path(face));
    ASSERT_EQ(file.size(), kFileSize);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Read32(file, 2), kFileSize);
    EXPECT_EQ(Read32(file, 10), 14u + 40u + 64u);
    EXPECT_EQ(Read32(file, 14), 40u);   // header size
    EXPECT_EQ(Read32(file, 18), 32u);   // width
    EXPECT_EQ(Read32(file, 22), 32u);   // height, positive: bottom row first
    EXPECT_EQ(Read16(file, 26), 1u);    // planes
    EXPECT_EQ(Read16(file, 28), 4u);    // bits per pixel
    EXPECT_EQ(Read32(file, 30), 0u);    // BI_RGB
    EXPECT_EQ(Read32(file, 34), 512u);  // image size
    EXPECT_EQ(Read32(file, 38), 0u);    // resolutions
    EXPECT_EQ(Read32(file, 42), 0u);
    EXPECT_EQ(Read32(file, 46), 0u);  // colours used
    EXPECT_EQ(Read32(file, 50), 0u);  // colours important
  }
}

TEST(Faces, PaletteIsTheStandardSixteenColoursInOrder) {
  for (const FaceFile& face : kFaces) {
    SCOPED_TRACE(face.name);
    const std::vector<std::uint8_t> file = ReadFile(Path(face));
    ASSERT_EQ(file.size(), kFileSize);
    for (int i = 0; i < 16; ++i) {
      const std::size_t quad = 54 + i * 4;
      EXPECT_EQ(file[quad + 0], kPalette[i][2]) << "entry " << i;
      EXPECT_EQ(file[quad + 1], kPalette[i][1]) << "entry " << i;
      EXPECT_EQ(file[quad + 2], kPalette[i][0]) << "entry " << i;
      EXPECT_EQ(file[quad + 3], 0) << "entry " << i;
    }
  }
}

TEST(Faces, SymbolsStandOnSilverWithATwoPixelMargin) {
  for (const FaceFile& face : kFaces) {
    SCOPED_TRACE(face.name);
    const std::vector<std::uint8_t> file = ReadFile(Path(face));
    ASSERT_EQ(file.size(), kFileSize);
    const Face pixels = DecodePixels(file);
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        const bool margin = x < 2 || y < 2 || x >= kSide - 2 || y >= kSide - 2;
        if (margin) {
          EXPECT_EQ(pixels.At(x, y), kSilver) << x << "," << y;
        }
      }
    }
    EXPECT_EQ(CountShapes(pixels), face.shapes);
  }
}

// Every inside pixel has only inside or navy pixels within two steps in any
// direction: the outline is navy and at least two pixels wide.
TEST(Faces, SymbolsHaveATwoPixelNavyOutline) {
  for (const FaceFile& face : kFaces) {
    SCOPED_TRACE(face.name);
    const std::vector<std::uint8_t> file = ReadFile(Path(face));
    ASSERT_EQ(file.size(), kFileSize);
    const Face pixels = DecodePixels(file);
    int inside = 0;
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        const std::uint8_t c = pixels.At(x, y);
        EXPECT_TRUE(c == kSilver || c == kNavy || pixels.Inside(x, y))
            << "colour " << int{c} << " at " << x << "," << y;
        if (!pixels.Inside(x, y)) continue;
        ++inside;
        for (int dy = -2; dy <= 2; ++dy) {
          for (int dx = -2; dx <= 2; ++dx) {
            EXPECT_TRUE(pixels.Inside(x + dx, y + dy) || pixels.At(x + dx, y + dy) == kNavy)
                << "near " << x << "," << y;
          }
        }
      }
    }
    EXPECT_GT(inside, 20);
  }
}

// Normal faces: white just inside the left and lower edges of each shape,
// blue elsewhere. Pressed faces: black just inside the upper and right edges.
TEST(Faces, EdgeLinesFollowTheNormalAndPressedRule) {
  for (const FaceFile& face : kFaces) {
    SCOPED_TRACE(face.name);
    const std::vector<std::uint8_t> file = ReadFile(Path(face));
    ASSERT_EQ(file.size(), kFileSize);
    const Face pixels = DecodePixels(file);
    const bool pressed = face.id % 2 == 1;
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        if (!pixels.Inside(x, y)) continue;
        const bool onEdge = pressed ? !pixels.Inside(x, y - 1) || !pixels.Inside(x + 1, y)
                                    : !pixels.Inside(x - 1, y) || !pixels.Inside(x, y + 1);
        const std::uint8_t want = onEdge ? (pressed ? kBlack : kWhite) : kBlue;
        EXPECT_EQ(pixels.At(x, y), want) << x << "," << y;
      }
    }
  }
}

// A button's two faces show the same symbol; the five symbols differ.
TEST(Faces, PairsShareTheirSymbolAndButtonsDiffer) {
  Face faces[10];
  for (int i = 0; i < 10; ++i) {
    const std::vector<std::uint8_t> file = ReadFile(Path(kFaces[i]));
    ASSERT_EQ(file.size(), kFileSize) << kFaces[i].name;
    faces[i] = DecodePixels(file);
  }
  const auto sameOutline = [&](int a, int b) {
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        if ((faces[a].At(x, y) == kNavy) != (faces[b].At(x, y) == kNavy)) return false;
        if (faces[a].Inside(x, y) != faces[b].Inside(x, y)) return false;
      }
    }
    return true;
  };
  for (int k = 0; k < 5; ++k) {
    EXPECT_TRUE(sameOutline(2 * k, 2 * k + 1)) << "button " << k;
    for (int other = k + 1; other < 5; ++other) {
      EXPECT_FALSE(sameOutline(2 * k, 2 * other)) << "buttons " << k << " and " << other;
    }
  }
}

}  // namespace
