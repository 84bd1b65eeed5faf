// Uses a handful of the library's families the way a program would: a trace
// statement, numbers formatted and read, a search, and an array recalled from
// a text and sorted. Prints what they give; scripts/test compares it with
// expected.txt.
#include <tarnwick/tarnwick.h>

#include <cstdio>
#include <string>

int OtherHeadersAgree();  // other_headers.cpp natively; 1 on Windows and in a one-file build

#if defined(_WIN32) || defined(TW_CONSUMER_ONE_FILE)
int OtherHeadersAgree() {
  return 1;
}
#endif

int main() {
  TW_TRACE_CONSOLE("Start", tw::TraceItem("answer", 42));

  double value = 0;
  const tw::NumberRead read = tw::ReadNumber(tw::Arg("1234.5 kg"), tw::Arg(&value), tw::kReadDouble);
  std::printf("read %d\n", read.count == tw::kReadError ? -1 : static_cast<int>(value * 10));
  std::printf("%s\n", tw::FormatNumber(tw::Arg("value %5f"),
                                       tw::OperandGroup(0, tw::kOpFirst, tw::kKindDoublePtr),
                                       {tw::DoubleOperand(&value)}));

  const tw::FindResult found = tw::TextFind(1, "a haystack with a needle", "needle", 0);
  std::printf("found at %d\n", found.position);

  tw::Recall(tw::kRecallText, 1, tw::Arg("pear\nFig\napple\nbanana\ncherry\n"), tw::kRecallLineFeeds);
  tw::StringArraySort(1, 0);
  std::string sorted;
  for (std::int32_t i = 0; i < tw::ArrayHeaderOf(1)->count; ++i) {
    sorted += tw::ArrayElement(1, static_cast<std::uint32_t>(i)).text;
    sorted += ' ';
  }
  std::printf("sorted %s\n", sorted.c_str());
  tw::ArrayErase(1);
  std::printf("other headers %d\n", OtherHeadersAgree());
  return 0;
}
