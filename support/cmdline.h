// Command-line arguments, string resources and deferred file reads: three
// routines that deliver a text as a temporary text of the library (see
// support/temptext.h and docs/files.md).
#pragma once

#include <cstdint>

#include "strings.h"
#include "temptext.h"

namespace tw {

// Argument n of the program's command line (0 the program's name; a negative
// n is taken as 0) as a temporary text. An argument that begins with one of
// the quote characters ! " # $ % & ' runs to the next of the same character;
// others run to the next space. Characters of code 9 and below end any
// argument. A missing argument, or a quoted one without its closing quote,
// gives text nullptr and the temporary text "?". An argument longer than the
// temporary text area holds (159,999 bytes) is cut.
TempTextResult CommandLineArg(std::int32_t n);

// String resource id of the program as a temporary text: id 0 or more the ANSI
// string, a negative id the UTF-16 string number -id (ending in a zero unit).
// A missing string (natively: every string) gives "R?", in UTF-16 for a
// negative id. The text is also the newest temporary result.
char* ResourceText(std::int32_t id);

// A deferred read of the whole file name: a 4-word record (marker -124, code
// -123, the name's address, the size) as a temporary result whose length is
// the file's size. The file is read when the result is carried out
// (DeferredMaterialise), through file slot 10; name must stay valid until
// then. A missing file or a folder is fatal error 5 with the name; a file of
// 2 GiB or more, whose size a result cannot hold, is fatal error 9. A name
// with * or ? means the first match of the search (as FileExists finds it):
// the record names that file's path, kept in the record itself after its four
// words, so that the file whose size is recorded is the one read.
TempTextResult DeferredFileRead(const char* name);

namespace testing {
// Makes CommandLineArg read line instead of the process's command line;
// nullptr goes back to the process's own.
void UseCommandLine(const char* line);
}  // namespace testing

}  // namespace tw
