// The trace statement's work between saving and restoring the processor state:
// assembling the items' text in the trace buffer and delivering it to the
// console or to a message box under the message-box gate.
#include "trace/trace.h"

#include "trace/msgbox.h"
#include "trace/text.h"

#include <cstring>

namespace tw {

TraceGlobals g_trace = {"\r\n", "\t", 1, g_trace.bufferStore, {}, {}, {}};

namespace {

constexpr char kNotAPointer[] = "<not a pointer>";
constexpr char kCutMarker[] = " ..";
constexpr std::size_t kFpuSaveSize = sizeof g_trace.fpuSave;
constexpr std::size_t kVectorSaveSize = sizeof g_trace.vectorSave;

// Appends at most length bytes of piece to the trace buffer and keeps it
// NUL-terminated; what does not fit is cut off.
void AppendBounded(const char* piece, std::uint32_t length) {
  const std::uint32_t used = TextLengthSse2(g_trace.buffer);
  const std::uint32_t room = static_cast<std::uint32_t>(kTraceBufferSize - 1) - used;
  if (length > room) length = room;
  char* end = TextCopy(g_trace.buffer + used, piece, static_cast<std::int32_t>(length));
  *end = '\0';
}

void Append(const char* piece) {
  AppendBounded(piece, TextLengthSse2(piece));
}

void RenderNumber(std::intptr_t value, char* numberText) {
  DecimalText(static_cast<std::int32_t>(value), numberText);
  Append(numberText);
}

// A value of 127 or less (signed, pointer-sized) cannot be an address: it is
// shown as its number, a tab and "<not a pointer>".
void RenderText(std::intptr_t value, char* numberText) {
  const char* text = reinterpret_cast<const char*>(value);
  if (value <= 127) {
    DecimalText64(value, numberText);
    Append(numberText);
    Append(g_trace.tab);
    text = kNotAPointer;
  }
  std::uint32_t length = TextLengthSse2(text);
  const bool cut = length >= kTextItemCap;
  if (cut) length = kTextItemCap;
  AppendBounded(text, length);
  if (cut) Append(kCutMarker);
}

void AssembleItems(const TraceStatement& statement, const TraceValue* items) {
  g_trace.buffer[0] = '\0';
  for (std::int32_t i = 0; i < statement.count; ++i) {
    const TraceValue& item = items[i];
    Append(item.label);
    for (int tabs = LabelTabs(item.label); tabs > 0; --tabs) Append(g_trace.tab);
    if (item.label[0] == '$') {
      RenderText(item.value, statement.numberTexts[i]);
    } else {
      RenderNumber(item.value, statement.numberTexts[i]);
    }
    Append(g_trace.lineEnd);
  }
}

void DeliverToConsole(const TraceStatement& statement) {
  if (statement.count == 1) {
    ConsoleWrite(statement.title);
    ConsoleWrite(g_trace.tab);
  } else {
    ConsoleWrite(g_trace.lineEnd);
    ConsoleWrite(statement.title);
    ConsoleWrite(g_trace.lineEnd);
  }
  ConsoleWrite(g_trace.buffer);
}

// Only one box at a time: the gate is 2 while a box shows, and takes the box's
// answer when it closes (OK opens it again, Cancel and failure shut it).
void DeliverToMessageBox(const TraceStatement& statement) {
  if (g_trace.gate != 1) return;
  g_trace.gate = 2;
  g_trace.gate = ShowMessageBox(g_trace.buffer, statement.title, MB_OKCANCEL);
}

}  // namespace

int LabelTabs(const char* label) {
  return TextLengthSse2(label) <= kTwoTabLabelMax ? 2 : 1;
}

}  // namespace tw

// Called by tw_TraceRun with the processor state already saved in its own stack
// frame (x87 state first, then xmm0-xmm7); the globals keep a copy of it.
extern "C" void tw_TraceBody(const tw::TraceStatement* statement, const tw::TraceValue* items,
                             const unsigned char* savedState) {
  using namespace tw;
  std::memcpy(g_trace.fpuSave, savedState, kFpuSaveSize);
  std::memcpy(g_trace.vectorSave, savedState + 112, kVectorSaveSize);
  AssembleItems(*statement, items);
  if (statement->sink == TraceSink::Console) {
    DeliverToConsole(*statement);
  } else {
    DeliverToMessageBox(*statement);
  }
}
