// Trace statements: a title and labelled values written to the console or
// shown in a message box, without disturbing the traced code's processor state.
//
//   TW_TRACE_CONSOLE("Key", tw::TraceItem("eax", wParam));
//   TW_TRACE_CONSOLE("CREATE", tw::TraceItem("hMenu", hMenu), tw::TraceItem("wMenu", wMenu));
//   TW_TRACE_BOX("info", tw::TraceItem("eax", wParam));
//
// An item whose label begins with "$" is a text item (its value is the address
// of a NUL-terminated text); every other item is a number item, shown as a
// signed 32-bit decimal. Item values are C++ expressions evaluated before the
// statement runs, so every item sees the state the statement started in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace tw {

enum class TraceSink : std::int32_t { Console = 0, MsgBox = 1 };

// Bytes of one item's number text buffer: a signed 64-bit value and its NUL.
constexpr std::size_t kNumberTextSize = 24;

// Capacity of the trace buffer, its NUL included. It holds the longest
// statement the application writes (a text item of 800 characters and the cut
// marker, about 820 bytes) twice over; longer statements are cut.
constexpr std::size_t kTraceBufferSize = 2048;

// Most characters a text item copies from its text; longer texts are cut there
// and followed by the cut marker " ..".
constexpr std::uint32_t kTextItemCap = 800;

// Labels of up to this many characters are followed by two tabs, longer ones by
// one, so that values line up at the second tab stop.
constexpr std::uint32_t kTwoTabLabelMax = 7;

struct TraceValue {
  const char* label;
  std::intptr_t value;
};

// A statement as it is written at its point: sink, title, item count and the
// items' number text buffers (static, one per item).
struct TraceStatement {
  TraceSink sink;
  const char* title;
  std::int32_t count;
  char (*numberTexts)[kNumberTextSize];
};

// The trace globals, shared by every statement.
struct TraceGlobals {
  const char* lineEnd;            // "\r\n", after every item and in several-item headings
  const char* tab;                // "\t", after labels and before "<not a pointer>"
  std::int32_t gate;              // 1 boxes are shown, 2 a box is showing, else shut for good
  char* buffer;                   // where every statement assembles its text
  unsigned char fpuSave[108];     // x87 state (FSAVE layout) of the latest statement's start
  unsigned char vectorSave[128];  // xmm0 to xmm7 of the latest statement's start
  char bufferStore[kTraceBufferSize];
};

extern TraceGlobals g_trace;

// Makes an item of a label and any integer, enumeration, pointer or handle.
template <typename T>
constexpr TraceValue TraceItem(const char* label, T value) {
  if constexpr (std::is_pointer_v<T>) {
    return {label, reinterpret_cast<std::intptr_t>(value)};
  } else if constexpr (std::is_enum_v<T>) {
    return {label, static_cast<std::intptr_t>(value)};
  } else {
    static_assert(std::is_integral_v<T>, "a trace item's value is a number, pointer or handle");
    return {label, static_cast<std::intptr_t>(value)};
  }
}

// Number of tabs that follow a label.
int LabelTabs(const char* label);

}  // namespace tw

// Runs one statement: saves flags, general registers, the x87 state and
// xmm0-xmm7, builds the text, delivers it to the sink, and restores all of it
// as it was at the statement's own start (also after nested statements).
extern "C" void tw_TraceRun(const tw::TraceStatement* statement, const tw::TraceValue* items);

// A trace statement to sink (TraceSink::Console or TraceSink::MsgBox) with a
// title and TraceItem values; TW_TRACE_CONSOLE and TW_TRACE_BOX name the sink.
#define TW_TRACE(sink, title, ...)                                                         \
  do {                                                                                     \
    const ::tw::TraceValue tw_trace_items_[] = {__VA_ARGS__};                              \
    constexpr ::std::int32_t tw_trace_count_ =                                             \
        static_cast<::std::int32_t>(sizeof tw_trace_items_ / sizeof tw_trace_items_[0]);   \
    static char tw_trace_numbers_[tw_trace_count_][::tw::kNumberTextSize];                 \
    static const ::tw::TraceStatement tw_trace_statement_ = {sink, title, tw_trace_count_, \
                                                             tw_trace_numbers_};           \
    ::tw_TraceRun(&tw_trace_statement_, tw_trace_items_);                                  \
  } while (0)

// A trace statement on the console, and one in a message box (OK and Cancel).
#define TW_TRACE_CONSOLE(title, ...) TW_TRACE(::tw::TraceSink::Console, title, __VA_ARGS__)
#define TW_TRACE_BOX(title, ...) TW_TRACE(::tw::TraceSink::MsgBox, title, __VA_ARGS__)
