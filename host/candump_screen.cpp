// Recognising candump's screen format.
#include "candump_screen.h"

namespace buslog_host {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// The next word of [*at, end): its start and length; false when none.
bool NextWord(const char** at, const char* end, const char** word, size_t* length) {
  const char* p = *at;
  while (p < end && IsSpace(*p)) ++p;
  if (p == end) return false;
  *word = p;
  while (p < end && !IsSpace(*p)) ++p;
  *length = static_cast<size_t>(p - *word);
  *at = p;
  return true;
}

bool AllHex(const char* word, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (!IsHex(word[i])) return false;
  }
  return true;
}

// "[4]", "[08]", "[64]": candump's length column.
bool IsLength(const char* word, size_t length) {
  if (length < 3 || length > 4 || word[0] != '[' || word[length - 1] != ']') return false;
  for (size_t i = 1; i + 1 < length; ++i) {
    if (word[i] < '0' || word[i] > '9') return false;
  }
  return true;
}

}  // namespace

const char kCandumpScreenAdvice[] =
    "this is candump's screen format (candump can0), which this host does not log: it has no time stamps to "
    "keep; use candump -L (candump -L can0 | buslog-host record), or replay a file that candump -l wrote";

bool IsCandumpScreenLine(const char* line, size_t length) {
  const char* at = line;
  const char* end = line + length;
  const char* word;
  size_t wordLength;
  if (!NextWord(&at, end, &word, &wordLength)) return false;
  if (word[0] == '(') {
    // "(1436509052.249713)", or "(000.000123)" with -t d or z.
    if (word[wordLength - 1] != ')') return false;
    if (!NextWord(&at, end, &word, &wordLength)) return false;
  }
  // The interface: a name, not a candump log's "123#..." frame.
  for (size_t i = 0; i < wordLength; ++i) {
    if (word[i] == '#') return false;
  }
  // The identifier (3 or 8 digits) and the length, after at most three
  // flag words of candump -x ("TX B E").
  const char* words[5];
  size_t lengths[5];
  int count = 0;
  while (count < 5 && NextWord(&at, end, &words[count], &lengths[count])) ++count;
  for (int i = 0; i + 1 < count; ++i) {
    if ((lengths[i] == 3 || lengths[i] == 8) && AllHex(words[i], lengths[i]) && IsLength(words[i + 1], lengths[i + 1])) {
      return true;
    }
  }
  return false;
}

}  // namespace buslog_host
