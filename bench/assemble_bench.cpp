// TextAssemble: joining 2, 5 and 20 pieces into the temporary text area
// beside std::string append and a sized std::string filled with memcpy; and
// assigning to an array element beside std::string assignment.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/arrays.h"
#include "support/assemble.h"

namespace {

const int kPieceCounts[] = {2, 5, 20};
const char* const kCountNames[] = {"2 pieces", "5 pieces", "20 pieces"};

// Pieces of 4 to 15 bytes, as in printed lines and assembled names.
const std::vector<std::string>& PieceTexts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> out;
    for (int i = 0; i < 20; ++i)
      out.push_back(std::string(4 + (i * 7) % 12, static_cast<char>('a' + i)));
    return out;
  }();
  return texts;
}

std::vector<tw::StringArg> Items(int count) {
  std::vector<tw::StringArg> items;
  for (int i = 0; i < count; ++i)
    items.push_back(tw::Arg(PieceTexts()[static_cast<std::size_t>(i)].c_str()));
  return items;
}

std::vector<const char*> Pointers(int count) {
  std::vector<const char*> pointers;
  for (int i = 0; i < count; ++i)
    pointers.push_back(PieceTexts()[static_cast<std::size_t>(i)].c_str());
  return pointers;
}

void Finish(benchmark::State& state, int set) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.SetLabel(kCountNames[set]);
}

// The window destination without a window: the text is assembled in the
// temporary text area and nothing else happens.
void Assemble_ours(benchmark::State& state) {
  const int set = static_cast<int>(state.range(0));
  const std::vector<tw::StringArg> items = Items(kPieceCounts[set]);
  tw::SetAssembleWindow(nullptr);
  for (auto _ : state) {
    benchmark::DoNotOptimize(tw::TextAssembleList(tw::kAssembleToWindow, items.data(),
                                                  static_cast<int>(items.size()), 0));
  }
  Finish(state, set);
}

void Assemble_append(benchmark::State& state) {
  const int set = static_cast<int>(state.range(0));
  const std::vector<const char*> pieces = Pointers(kPieceCounts[set]);
  for (auto _ : state) {
    std::string text;
    for (const char* piece : pieces) text.append(piece);
    benchmark::DoNotOptimize(text.data());
  }
  Finish(state, set);
}

void Assemble_memcpy(benchmark::State& state) {
  const int set = static_cast<int>(state.range(0));
  const std::vector<const char*> pieces = Pointers(kPieceCounts[set]);
  std::size_t lengths[20];
  for (auto _ : state) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) total += lengths[i] = std::strlen(pieces[i]);
    std::string text(total, '\0');
    char* at = text.data();
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      std::memcpy(at, pieces[i], lengths[i]);
      at += lengths[i];
    }
    benchmark::DoNotOptimize(text.data());
  }
  Finish(state, set);
}

// Assignment to element 0 of an array: ArrayElement names the destination,
// TextAssemble writes the text in place (it is as long as the old one, so
// the heap is asked only for the block's size) and forgets the results that
// read the old text.
void Assign_ours(benchmark::State& state) {
  const int set = static_cast<int>(state.range(0));
  const std::vector<tw::StringArg> items = Items(kPieceCounts[set]);
  tw::ArrayCreate(1, 0);
  for (auto _ : state) {
    tw::ArrayElement(1, 0);
    benchmark::DoNotOptimize(tw::TextAssembleList(tw::kAssembleToElement, items.data(),
                                                  static_cast<int>(items.size()), 0));
  }
  tw::ArrayErase(1);
  Finish(state, set);
}

void Assign_string(benchmark::State& state) {
  const int set = static_cast<int>(state.range(0));
  const std::vector<const char*> pieces = Pointers(kPieceCounts[set]);
  std::string element;
  for (auto _ : state) {
    element.assign(pieces[0]);
    for (std::size_t i = 1; i < pieces.size(); ++i) element.append(pieces[i]);
    benchmark::DoNotOptimize(element.data());
  }
  Finish(state, set);
}

}  // namespace

BENCHMARK(Assemble_ours)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(Assemble_append)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(Assemble_memcpy)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(Assign_ours)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(Assign_string)->Arg(0)->Arg(1)->Arg(2);
