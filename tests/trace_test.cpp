// Trace statements: console layout, text items, the message-box gate and
// transparency for the processor state.
#include "trace/trace.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/capture.h"
#include "tools/trace_probe.h"
#include "trace/msgbox.h"

namespace {

class Trace : public ::testing::Test {
 protected:
  void SetUp() override {
    tw::g_trace.gate = 1;
    tw::SetMessageBoxFunction(nullptr);
    tw::RestartMessageBoxAnswers();
    boxes_.clear();
    answers_.clear();
    current_ = this;
  }
  void TearDown() override {
    tw::SetMessageBoxFunction(nullptr);
    SetEnvironmentVariableA("TARNWICK_MSGBOX", "default");
    current_ = nullptr;
  }

  struct Box {
    std::string caption;
    std::string text;
    std::int32_t gateWhileShown;
  };

  // Stands in for the box: records it and gives the next planned answer.
  static int RecordBox(const char* text, const char* caption, UINT type) {
    EXPECT_EQ(type, static_cast<UINT>(MB_OKCANCEL));
    current_->boxes_.push_back({caption, text, tw::g_trace.gate});
    if (current_->nested_) current_->nested_();
    if (current_->answers_.empty()) return IDOK;
    const int answer = current_->answers_.front();
    current_->answers_.erase(current_->answers_.begin());
    return answer;
  }

  void AnswerBoxes(std::vector<int> answers) {
    answers_ = std::move(answers);
    tw::SetMessageBoxFunction(&RecordBox);
  }

  static Trace* current_;
  std::vector<Box> boxes_;
  std::vector<int> answers_;
  void (*nested_)() = nullptr;
};

Trace* Trace::current_ = nullptr;

// --- console layout --------------------------------------------------------

TEST_F(Trace, OneItemConsoleStatementIsOneLine) {
  tw_test::Capture out(tw_test::Stream::Output);
  TW_TRACE_CONSOLE("Key", tw::TraceItem("eax", 65));
  EXPECT_EQ(out.Finish(), "Key\teax\t\t65\r\n");
}

TEST_F(Trace, SeveralItemsStartWithALineEndAndTheTitleOnItsOwnLine) {
  tw_test::Capture out(tw_test::Stream::Output);
  TW_TRACE_CONSOLE("No luck", tw::TraceItem("ecx", 1234), tw::TraceItem("hMainWindow", 0),
                   tw::TraceItem("wMenu", -7), tw::TraceItem("hMenu", 2147483647));
  EXPECT_EQ(out.Finish(),
            "\r\nNo luck\r\n"
            "ecx\t\t1234\r\n"
            "hMainWindow\t0\r\n"
            "wMenu\t\t-7\r\n"
            "hMenu\t\t2147483647\r\n");
}

TEST_F(Trace, TheTraceBufferHoldsTheLastStatementsText) {
  tw_test::Capture out(tw_test::Stream::Output);
  TW_TRACE_CONSOLE("posc", tw::TraceItem("[ebx.WINDOWPOS.lx]", 400),
                   tw::TraceItem("[ebx.WINDOWPOS.cy]", 350));
  out.Finish();
  EXPECT_STREQ(tw::g_trace.buffer, "[ebx.WINDOWPOS.lx]\t400\r\n[ebx.WINDOWPOS.cy]\t350\r\n");
}

TEST_F(Trace, LabelTabRule) {
  const struct {
    const char* label;
    int tabs;
  } cases[] = {
      {"", 2},
      {"eax", 2},
      {"nCode", 2},
      {"$edi", 2},
      {"sixsix", 2},
      {"seven77", 2},
      {"eight888", 1},
      {"HC_ACTION", 1},
      {"hMainWindow", 1},
      {"mbi.hbrBack", 1},
      {"[ebx.WINDOWPOS.cy]", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(tw::LabelTabs(c.label), c.tabs) << c.label;
}

TEST_F(Trace, NumberItemsShowSigned32BitValues) {
  tw_test::Capture out(tw_test::Stream::Output);
  TW_TRACE_CONSOLE("n", tw::TraceItem("a", -2147483647 - 1), tw::TraceItem("b", 4294967295u),
                   tw::TraceItem("c", static_cast<void*>(nullptr)));
  EXPECT_EQ(out.Finish(), "\r\nn\r\na\t\t-2147483648\r\nb\t\t-1\r\nc\t\t0\r\n");
}

// --- text items ------------------------------------------------------------

std::string TextItemLine(std::intptr_t value) {
  tw_test::Capture out(tw_test::Stream::Output);
  TW_TRACE_CONSOLE("Class", tw::TraceItem("$edi", value));
  return out.Finish();
}

TEST_F(Trace, TextItemShowsTheText) {
  static const char name[] = "ToolbarWindow32";
  EXPECT_EQ(TextItemLine(reinterpret_cast<std::intptr_t>(name)),
            "Class\t$edi\t\tToolbarWindow32\r\n");
  static const char empty[] = "";
  EXPECT_EQ(TextItemLine(reinterpret_cast<std::intptr_t>(empty)), "Class\t$edi\t\t\r\n");
}

TEST_F(Trace, ValuesThatCannotBeAddressesShowNotAPointer) {
  EXPECT_EQ(TextItemLine(127), "Class\t$edi\t\t127\t<not a pointer>\r\n");
  EXPECT_EQ(TextItemLine(0), "Class\t$edi\t\t0\t<not a pointer>\r\n");
  EXPECT_EQ(TextItemLine(-1), "Class\t$edi\t\t-1\t<not a pointer>\r\n");
  const std::intptr_t topBit = static_cast<std::intptr_t>(~(~std::uintptr_t{0} >> 1));
  const std::string expected = sizeof(void*) == 8 ? "-9223372036854775808" : "-2147483648";
  EXPECT_EQ(TextItemLine(topBit), "Class\t$edi\t\t" + expected + "\t<not a pointer>\r\n");
}

TEST_F(Trace, TextItemsAreCutAt800Characters) {
  for (std::size_t length : {799u, 800u, 801u, 1500u}) {
    const std::string text(length, 'q');
    const std::string shown = length < 800 ? text : text.substr(0, 800) + " ..";
    EXPECT_EQ(TextItemLine(reinterpret_cast<std::intptr_t>(text.c_str())),
              "Class\t$edi\t\t" + shown + "\r\n")
        << length;
  }
}

TEST_F(Trace, OverlongStatementsAreCutAtTheBufferEnd) {
  const std::string text(1000, 'z');
  const std::intptr_t value = reinterpret_cast<std::intptr_t>(text.c_str());
  tw_test::Capture out(tw_test::Stream::Output);
  TW_TRACE_CONSOLE("long", tw::TraceItem("$a", value), tw::TraceItem("$b", value),
                   tw::TraceItem("$c", value), tw::TraceItem("$d", value));
  const std::string written = out.Finish();
  const std::string item = "$a\t\t" + std::string(800, 'z') + " ..\r\n";
  EXPECT_EQ(std::strlen(tw::g_trace.buffer), tw::kTraceBufferSize - 1);
  EXPECT_EQ(written.size(), std::strlen("\r\nlong\r\n") + tw::kTraceBufferSize - 1);
  EXPECT_EQ(written.substr(std::strlen("\r\nlong\r\n"), item.size()), item);
}

// --- message-box gate ------------------------------------------------------

TEST_F(Trace, OkKeepsBoxesComing) {
  AnswerBoxes({IDOK, IDOK});
  TW_TRACE_BOX("info", tw::TraceItem("eax", 1));
  TW_TRACE_BOX("info", tw::TraceItem("eax", 2));
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[0].caption, "info");
  EXPECT_EQ(boxes_[0].text, "eax\t\t1\r\n");
  EXPECT_EQ(boxes_[1].text, "eax\t\t2\r\n");
  EXPECT_EQ(boxes_[0].gateWhileShown, 2);
  EXPECT_EQ(tw::g_trace.gate, 1);
}

TEST_F(Trace, CancelShutsTheGateForGoodButConsoleTracesGoOn) {
  AnswerBoxes({IDCANCEL});
  TW_TRACE_BOX("Gotcha", tw::TraceItem("eax", 7), tw::TraceItem("ecx", 8));
  EXPECT_EQ(tw::g_trace.gate, 2);
  TW_TRACE_BOX("info", tw::TraceItem("eax", 3));
  EXPECT_EQ(boxes_.size(), 1u);
  // The statement still assembles its text.
  EXPECT_STREQ(tw::g_trace.buffer, "eax\t\t3\r\n");
  tw_test::Capture out(tw_test::Stream::Output);
  TW_TRACE_CONSOLE("Key", tw::TraceItem("eax", 65));
  EXPECT_EQ(out.Finish(), "Key\teax\t\t65\r\n");
  EXPECT_EQ(tw::g_trace.gate, 2);
}

TEST_F(Trace, AFailedBoxShutsTheGate) {
  AnswerBoxes({0});
  TW_TRACE_BOX("info", tw::TraceItem("eax", 1));
  EXPECT_EQ(tw::g_trace.gate, 0);
  TW_TRACE_BOX("info", tw::TraceItem("eax", 1));
  EXPECT_EQ(boxes_.size(), 1u);
}

TEST_F(Trace, ANestedBoxShowsNothingAndTheOuterAnswerDecides) {
  nested_ = [] {
    // Runs while the outer box is up, as the modal loop's procedures would.
    TW_TRACE_BOX("Cb not action", tw::TraceItem("nCode", -1), tw::TraceItem("HC_ACTION", 0));
    EXPECT_EQ(tw::g_trace.gate, 2);
    tw_test::Capture out(tw_test::Stream::Output);
    TW_TRACE_CONSOLE("Class", tw::TraceItem("$edi", "#32770"));
    EXPECT_EQ(out.Finish(), "Class\t$edi\t\t#32770\r\n");
  };
  AnswerBoxes({IDOK, IDOK});
  TW_TRACE_BOX("Gotcha", tw::TraceItem("eax", 6));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, "Gotcha");
  EXPECT_EQ(tw::g_trace.gate, 1);
}

TEST_F(Trace, HeadlessAnswersComeFromTheEnvironmentList) {
  SetEnvironmentVariableA("TARNWICK_MSGBOX", "ok,cancel");
  tw_test::Capture err(tw_test::Stream::Error);
  TW_TRACE_BOX("info", tw::TraceItem("eax", 1));
  EXPECT_EQ(tw::g_trace.gate, 1);
  TW_TRACE_BOX("info", tw::TraceItem("eax", 2));
  EXPECT_EQ(tw::g_trace.gate, 2);
  TW_TRACE_BOX("info", tw::TraceItem("eax", 3));
  EXPECT_EQ(err.Finish(),
            "[message box] info\neax\t\t1\r\n\n[answer] ok\n"
            "[message box] info\neax\t\t2\r\n\n[answer] cancel\n");
}

TEST_F(Trace, HeadlessFailAnswerShutsTheGate) {
  SetEnvironmentVariableA("TARNWICK_MSGBOX", "fail");
  tw_test::Capture err(tw_test::Stream::Error);
  TW_TRACE_BOX("info", tw::TraceItem("eax", 1));
  err.Finish();
  EXPECT_EQ(tw::g_trace.gate, 0);
}

TEST(MessageBoxSeam, ExhaustedListsAndDefaultAnswerAsTheDefaultButton) {
  tw::SetMessageBoxFunction(nullptr);
  SetEnvironmentVariableA("TARNWICK_MSGBOX", "no");
  tw_test::Capture err(tw_test::Stream::Error);
  EXPECT_EQ(tw::ShowMessageBox("t", "c", MB_YESNOCANCEL), IDNO);
  EXPECT_EQ(tw::ShowMessageBox("t", "c", MB_YESNOCANCEL), IDYES);
  EXPECT_EQ(tw::ShowMessageBox("t", "c", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  SetEnvironmentVariableA("TARNWICK_MSGBOX", "default,yes");
  EXPECT_EQ(tw::ShowMessageBox("t", "c", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
  EXPECT_EQ(tw::ShowMessageBox("t", "c", MB_YESNO), IDYES);
  tw::RestartMessageBoxAnswers();
  EXPECT_EQ(tw::ShowMessageBox("t", "c", MB_OK), IDOK);
  err.Finish();
  SetEnvironmentVariableA("TARNWICK_MSGBOX", "default");
}

// --- transparency ----------------------------------------------------------

// The probe driver exists for x86-64 and i386, the two targets of the trace
// statement's entry.
#ifdef TW_HAVE_TRACE_PROBE

// Fills a probe state with a distinctive pattern derived from seed.
void Distinctive(tw_test::ProbeState& state, std::uint64_t seed,
                 const tw::TraceStatement* statement, const tw::TraceValue* items) {
  std::memset(&state, 0, sizeof state);
  for (int i = 0; i < tw_test::kProbeRegisters; ++i) {
    // Register-sized: on i386 only the low half is loaded and found again.
    state.gprIn[i] = static_cast<std::uintptr_t>(seed * 0x0101010101010101ull +
                                                 static_cast<std::uint64_t>(i) * 0x1111);
  }
  state.gprIn[tw_test::kFirstArgument] = reinterpret_cast<std::uint64_t>(statement);
  state.gprIn[tw_test::kSecondArgument] = reinterpret_cast<std::uint64_t>(items);
  // CF, PF, AF, ZF, SF, DF and OF set (DF would break any C++ code it reached).
  state.flagsIn = 0x0202 | 0x0001 | 0x0004 | 0x0010 | 0x0040 | 0x0080 | 0x0400 | 0x0800;
  for (int i = 0; i < 128; ++i) state.xmmIn[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
  // Round toward zero, 53-bit precision, all exceptions masked.
  state.controlWord = static_cast<std::uint16_t>(seed % 2 ? 0x0E7F : 0x0C3F);
  state.stack[0] = 1.0L / 3.0L + static_cast<long double>(seed);
  state.stack[1] = -2.5L;
  state.stack[2] = 1e300L * 1e300L;
}

void ExpectRestored(const tw_test::ProbeState& state) {
  for (int i = 0; i < tw_test::kProbeRegisters; ++i) {
    EXPECT_EQ(state.gprOut[i], state.gprIn[i]) << "general register " << i;
  }
  EXPECT_EQ(state.flagsOut, state.flagsIn);
  EXPECT_EQ(std::memcmp(state.xmmOut, state.xmmIn, 128), 0) << "xmm0-xmm7";
  // Control word, status word (with the stack top), tag word, and the eight
  // registers; the instruction and operand pointers are left out.
  EXPECT_EQ(std::memcmp(state.fpuOut, state.fpuIn, 2), 0) << "x87 control word";
  EXPECT_EQ(std::memcmp(state.fpuOut + 4, state.fpuIn + 4, 2), 0) << "x87 status word";
  EXPECT_EQ(std::memcmp(state.fpuOut + 8, state.fpuIn + 8, 2), 0) << "x87 tag word";
  EXPECT_EQ(std::memcmp(state.fpuOut + 28, state.fpuIn + 28, 80), 0) << "x87 registers";
}

// Changes the x87 unit and the vector registers the way foreign code might.
void ScrambleFloatingPointState() {
  asm volatile(
      "fninit\n\t"
      "fldpi\n\t"
      "fldlg2\n\t"
      "pcmpeqb %%xmm0, %%xmm0\n\t"
      "pcmpeqb %%xmm7, %%xmm7\n\t" ::
          : "xmm0", "xmm7", "st", "st(1)", "memory");
}

const tw::TraceValue g_probeItems[] = {{"ecx", 1},
                                       {"$edi", reinterpret_cast<std::intptr_t>("Menu")}};
char g_probeNumbers[2][tw::kNumberTextSize];
const tw::TraceStatement g_consoleStatement = {tw::TraceSink::Console, "probe", 2, g_probeNumbers};
const tw::TraceStatement g_boxStatement = {tw::TraceSink::MsgBox, "probe", 2, g_probeNumbers};

TEST_F(Trace, ConsoleStatementKeepsTheProcessorState) {
  tw_test::ProbeState state;
  Distinctive(state, 3, &g_consoleStatement, g_probeItems);
  tw_test::Capture out(tw_test::Stream::Output);
  tw_probe_run(&state);
  EXPECT_EQ(out.Finish(), "\r\nprobe\r\necx\t\t1\r\n$edi\t\tMenu\r\n");
  ExpectRestored(state);
}

TEST_F(Trace, StatementUndoesX87ChangesMadeInsideIt) {
  nested_ = [] { ScrambleFloatingPointState(); };
  AnswerBoxes({IDOK});
  tw_test::ProbeState state;
  Distinctive(state, 5, &g_boxStatement, g_probeItems);
  tw_probe_run(&state);
  ASSERT_EQ(boxes_.size(), 1u);
  ExpectRestored(state);
}

TEST_F(Trace, NestedStatementsEachRestoreTheirOwnEntryState) {
  static tw_test::ProbeState inner;
  nested_ = [] {
    Distinctive(inner, 9, &g_consoleStatement, g_probeItems);
    tw_test::Capture out(tw_test::Stream::Output);
    tw_probe_run(&inner);
    out.Finish();
    ScrambleFloatingPointState();
  };
  AnswerBoxes({IDOK});
  tw_test::ProbeState outer;
  Distinctive(outer, 4, &g_boxStatement, g_probeItems);
  tw_probe_run(&outer);
  ASSERT_EQ(boxes_.size(), 1u);
  ExpectRestored(inner);
  ExpectRestored(outer);
  // The two states differ, so neither could have been restored from the other.
  EXPECT_NE(std::memcmp(inner.fpuIn + 28, outer.fpuIn + 28, 80), 0);
}

#endif

}  // namespace
