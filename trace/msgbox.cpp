// Message boxes: the answer-list seam for headless runs and the real box.
#include "trace/msgbox.h"

#include "trace/text.h"

#include <cstring>

namespace tw {

namespace {

constexpr char kAnswersVariable[] = "TARNWICK_MSGBOX";
constexpr DWORD kAnswersCapacity = 1024;

struct AnswerList {
  char seen[kAnswersCapacity];  // the variable's value when the list was started
  int taken;                    // answers of it already given
};

MessageBoxFunction g_messageBoxFunction = nullptr;
AnswerList g_answers = {{}, 0};

struct AnswerName {
  const char* word;
  int answer;
};

constexpr int kDefaultAnswer = -1;

constexpr AnswerName kAnswerNames[] = {
    {"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES},
    {"no", IDNO}, {"fail", 0},          {"default", kDefaultAnswer},
};

// The answer a box gives when its default button is pressed.
int DefaultButtonAnswer(UINT type) {
  const int button = static_cast<int>((type & MB_DEFMASK) >> 8);  // 0, 1 or 2
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return button == 0 ? IDOK : IDCANCEL;
    case MB_ABORTRETRYIGNORE:
      return button == 0 ? IDABORT : button == 1 ? IDRETRY : IDIGNORE;
    case MB_YESNOCANCEL:
      return button == 0 ? IDYES : button == 1 ? IDNO : IDCANCEL;
    case MB_YESNO:
      return button == 0 ? IDYES : IDNO;
    case MB_RETRYCANCEL:
      return button == 0 ? IDRETRY : IDCANCEL;
    default:
      return IDOK;
  }
}

const char* AnswerWord(int answer) {
  for (const AnswerName& name : kAnswerNames) {
    if (name.answer == answer) return name.word;
  }
  switch (answer) {
    case IDABORT:
      return "abort";
    case IDRETRY:
      return "retry";
    case IDIGNORE:
      return "ignore";
    default:
      return "?";
  }
}

// Takes the next answer of the list in value; kDefaultAnswer when the list is
// exhausted or the entry is not a known word.
int TakeAnswer(const char* value) {
  if (std::strcmp(value, g_answers.seen) != 0) {
    std::strcpy(g_answers.seen, value);
    g_answers.taken = 0;
  }
  const char* entry = value;
  for (int skip = g_answers.taken; skip > 0 && entry != nullptr; --skip) {
    entry = std::strchr(entry, ',');
    if (entry != nullptr) ++entry;
  }
  if (entry == nullptr) return kDefaultAnswer;
  ++g_answers.taken;
  const char* end = std::strchr(entry, ',');
  const std::size_t length =
      end != nullptr ? static_cast<std::size_t>(end - entry) : std::strlen(entry);
  for (const AnswerName& name : kAnswerNames) {
    if (std::strlen(name.word) == length && std::strncmp(entry, name.word, length) == 0) {
      return name.answer;
    }
  }
  return kDefaultAnswer;
}

void WriteError(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, TextLength(text), &written, nullptr);
}

// A box that is not opened: caption, text and the answer go to standard error.
int AnswerOnStandardError(const char* text, const char* caption, UINT type, int answer) {
  if (answer == kDefaultAnswer) answer = DefaultButtonAnswer(type);
  WriteError("[message box] ");
  WriteError(caption != nullptr ? caption : "");
  WriteError("\n");
  WriteError(text != nullptr ? text : "");
  WriteError("\n[answer] ");
  WriteError(AnswerWord(answer));
  WriteError("\n");
  return answer;
}

}  // namespace

int ShowMessageBox(const char* text, const char* caption, UINT type) {
  if (g_messageBoxFunction != nullptr) return g_messageBoxFunction(text, caption, type);
  char value[kAnswersCapacity];
  const DWORD length = GetEnvironmentVariableA(kAnswersVariable, value, kAnswersCapacity);
  if (length > 0 && length < kAnswersCapacity) {
    return AnswerOnStandardError(text, caption, type, TakeAnswer(value));
  }
#ifdef _WIN32
  return MessageBoxA(nullptr, text, caption, type);
#else
  return AnswerOnStandardError(text, caption, type, kDefaultAnswer);
#endif
}

MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function) {
  const MessageBoxFunction previous = g_messageBoxFunction;
  g_messageBoxFunction = function;
  return previous;
}

void RestartMessageBoxAnswers() {
  g_answers.seen[0] = '\0';
  g_answers.taken = 0;
}

}  // namespace tw
