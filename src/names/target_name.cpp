// Splitting a target description, "name (word rest)", into its three parts
// in place. The text is in the server's code set; the characters looked for
// (white space, parentheses) are single bytes that no supported multibyte
// code set uses inside a longer character, and the step back over spaces
// goes through the multibyte stepper.
#include <cstring>
#include <initializer_list>

#include "common/export.h"
#include "dpxut.h"

namespace {

bool is_white(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

char* skip_white(char* p) noexcept {
  while (is_white(*p)) ++p;
  return p;
}

// Where the text that starts at `floor` ends when the spaces right before
// `mark` are trimmed: the first of those spaces, or `mark` itself. Never
// steps before `floor`, so an empty part ("(" first) reads nothing before
// the text.
char* trim_spaces_before(char* floor, char* mark) noexcept {
  char* end = mark;
  while (end > floor) {
    char* prev = HVPrevChar(floor, end);
    if (prev == nullptr || prev < floor || *prev != ' ') break;
    end = prev;
  }
  return end;
}

// Copies the `length` bytes at `from` into `to` and terminates the copy.
// The caller's array may overlap the source text.
void copy_part(char* to, const char* from, size_t length) noexcept {
  std::memmove(to, from, length);
  to[length] = '\0';
}

}  // namespace

// The result is the last part extracted. Without a parenRest the word is
// the last part: parenWord is returned once the text shows that a rest
// follows it. Without a parenWord the rest is not extracted, and the result
// is the space that ends the word.
DPXUT_EXPORT char* HVDPGetTargetName(char* source, char* targetName, char* parenWord, char* parenRest) {
  for (char* d : {targetName, parenWord, parenRest})
    if (d != nullptr) d[0] = '\0';
  if (source == nullptr) return nullptr;

  char* name = skip_white(source);
  char* open = std::strchr(name, '(');
  if (open == nullptr) return nullptr;
  char* name_end = trim_spaces_before(name, open);
  if (targetName != nullptr) {
    // Kept as stored: without a space before "(" this NUL lands on the "("
    // itself, and the parenthesis is no longer found below.
    *name_end = '\0';
    copy_part(targetName, name, static_cast<size_t>(name_end - name));
  }
  if (parenWord == nullptr && parenRest == nullptr) return targetName != nullptr ? targetName : name_end;

  if (*open == '\0') return nullptr;
  char* word = skip_white(open + 1);
  if (*word == '\0') return nullptr;
  char* space = std::strchr(word, ' ');
  if (space == nullptr) return nullptr;
  if (parenWord == nullptr) return space;
  copy_part(parenWord, word, static_cast<size_t>(space - word));

  char* rest = skip_white(space + 1);
  if (*rest == '\0') return nullptr;
  if (parenRest == nullptr) return parenWord;
  char* close = std::strchr(rest, ')');
  if (close == nullptr) return nullptr;
  char* rest_end = trim_spaces_before(rest, close);
  *rest_end = '\0';
  copy_part(parenRest, rest, static_cast<size_t>(rest_end - rest));
  return parenRest;
}
