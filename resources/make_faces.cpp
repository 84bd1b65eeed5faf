// Draws the toolbar's ten face bitmaps and writes them as .bmp files: five
// symbols (skip back, play, pause, stop, skip forward), each as a normal and a
// pressed face, 32 x 32 pixels in the standard 16-colour palette.
//
// Usage: make_faces OUTPUT_FOLDER
//
// The faces are checked into this folder; run this only to redraw them.
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr int kSide = 32;
constexpr int kBytesPerRow = kSide / 2;  // two 4-bit pixels per byte
constexpr int kImageSize = kBytesPerRow * kSide;
constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
constexpr int kPaletteSize = 16 * 4;
constexpr int kPixelOffset = kFileHeaderSize + kInfoHeaderSize + kPaletteSize;

// Palette indices used by the faces.
constexpr std::uint8_t kBlack = 0;
constexpr std::uint8_t kNavy = 4;
constexpr std::uint8_t kSilver = 8;
constexpr std::uint8_t kBlue = 12;
constexpr std::uint8_t kWhite = 15;

// The standard 16-colour palette as red, green, blue.
constexpr std::uint8_t kPalette[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {128, 128, 128}, {192, 192, 192}, {255, 0, 0},     {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

// A shape in pixel coordinates (x to the right, y downwards), edges on pixel
// borders: a rectangle, or an isosceles triangle pointing left or right whose
// base is the edge opposite its tip.
enum class ShapeKind { Rectangle, TriangleLeft, TriangleRight };

struct Shape {
  ShapeKind kind;
  int left, top, right, bottom;  // bounding box, right and bottom exclusive
};

struct Symbol {
  int firstId;
  const char* name;
  Shape shapes[3];
  int shapeCount;
};

constexpr Symbol kSymbols[] = {
    {100,
     "skip-back",
     {{ShapeKind::Rectangle, 2, 4, 8, 28},
      {ShapeKind::TriangleLeft, 9, 4, 19, 28},
      {ShapeKind::TriangleLeft, 20, 4, 30, 28}},
     3},
    {102, "play", {{ShapeKind::TriangleRight, 8, 4, 26, 28}}, 1},
    {104,
     "pause",
     {{ShapeKind::Rectangle, 7, 5, 14, 27}, {ShapeKind::Rectangle, 18, 5, 25, 27}},
     2},
    {106, "stop", {{ShapeKind::Rectangle, 6, 6, 26, 26}}, 1},
    {108,
     "skip-forward",
     {{ShapeKind::TriangleRight, 2, 4, 12, 28},
      {ShapeKind::TriangleRight, 13, 4, 23, 28},
      {ShapeKind::Rectangle, 24, 4, 30, 28}},
     3},
};

using Mask = bool[kSide][kSide];  // [y][x]
using Face = std::uint8_t[kSide][kSide];

// Whether the centre of pixel (x, y) lies inside the shape.
bool Covers(const Shape& shape, int x, int y) {
  const double cx = x + 0.5;
  const double cy = y + 0.5;
  if (cx < shape.left || cx > shape.right || cy < shape.top || cy > shape.bottom) return false;
  if (shape.kind == ShapeKind::Rectangle) return true;
  const double width = shape.right - shape.left;
  const double halfHeight = (shape.bottom - shape.top) / 2.0;
  const double middle = shape.top + halfHeight;
  const double fromTip = shape.kind == ShapeKind::TriangleLeft ? cx - shape.left : shape.right - cx;
  const double reach = fromTip / width * halfHeight;
  return cy - middle <= reach && middle - cy <= reach;
}

bool At(const Mask& mask, int x, int y) {
  return x >= 0 && y >= 0 && x < kSide && y < kSide && mask[y][x];
}

// Keeps the pixels whose eight neighbours all belong to the mask.
void Erode(const Mask& from, Mask& to) {
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      bool inside = from[y][x];
      for (int dy = -1; dy <= 1 && inside; ++dy) {
        for (int dx = -1; dx <= 1 && inside; ++dx) inside = At(from, x + dx, y + dy);
      }
      to[y][x] = inside;
    }
  }
}

// Paints one shape: a 2-pixel navy outline around a blue fill whose edge line
// is white inside the left and lower edges (normal face) or black inside the
// upper and right edges (pressed face).
void PaintShape(const Shape& shape, bool pressed, Face& face) {
  Mask area = {};
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) area[y][x] = Covers(shape, x, y);
  }
  Mask inner = {};
  Mask fill = {};
  Erode(area, inner);
  Erode(inner, fill);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      if (!area[y][x]) continue;
      if (!fill[y][x]) {
        face[y][x] = kNavy;
      } else if (pressed) {
        face[y][x] = !At(fill, x, y - 1) || !At(fill, x + 1, y) ? kBlack : kBlue;
      } else {
        face[y][x] = !At(fill, x - 1, y) || !At(fill, x, y + 1) ? kWhite : kBlue;
      }
    }
  }
}

void Put16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
  Put16(at, value);
  Put16(at + 2, value >> 16);
}

bool WriteBitmap(const std::string& path, const Face& face) {
  std::uint8_t file[kPixelOffset + kImageSize] = {};
  file[0] = 'B';
  file[1] = 'M';
  Put32(file + 2, sizeof file);
  Put32(file + 10, kPixelOffset);
  std::uint8_t* info = file + kFileHeaderSize;
  Put32(info + 0, kInfoHeaderSize);
  Put32(info + 4, kSide);
  Put32(info + 8, kSide);
  Put16(info + 12, 1);  // planes
  Put16(info + 14, 4);  // bits per pixel
  Put32(info + 20, kImageSize);
  std::uint8_t* palette = info + kInfoHeaderSize;
  for (int i = 0; i < 16; ++i) {
    palette[i * 4 + 0] = kPalette[i][2];
    palette[i * 4 + 1] = kPalette[i][1];
    palette[i * 4 + 2] = kPalette[i][0];
  }
  std::uint8_t* pixels = file + kPixelOffset;
  for (int row = 0; row < kSide; ++row) {
    const int y = kSide - 1 - row;  // bottom row first
    for (int x = 0; x < kSide; x += 2) {
      pixels[row * kBytesPerRow + x / 2] =
          static_cast<std::uint8_t>(face[y][x] << 4 | face[y][x + 1]);
    }
  }
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(file, sizeof file, 1, out) == 1;
  return std::fclose(out) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_faces OUTPUT_FOLDER\n");
    return 2;
  }
  for (const Symbol& symbol : kSymbols) {
    for (int pressed = 0; pressed <= 1; ++pressed) {
      Face face;
      for (auto& row : face) {
        for (auto& pixel : row) pixel = kSilver;
      }
      for (int i = 0; i < symbol.shapeCount; ++i) PaintShape(symbol.shapes[i], pressed != 0, face);
      const std::string path = std::string(argv[1]) + "/" +
                               std::to_string(symbol.firstId + pressed) + "-" + symbol.name +
                               (pressed != 0 ? "-pressed" : "-normal") + ".bmp";
      if (!WriteBitmap(path, face)) {
        std::fprintf(stderr, "make_faces: cannot write %s\n", path.c_str());
        return 1;
      }
    }
  }
  return 0;
}
