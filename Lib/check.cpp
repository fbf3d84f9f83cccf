#include "Lib/Include/check.h"

namespace assert {

// Weak: a program built without the log, as the front end's tools are (they have no console), leaves
// it out, and its failed checks only throw.
[[gnu::weak]] void logFailure(const char* format, ...);

void checkFailed(const char* file, int line, const char* exprText) {
  if (logFailure != nullptr) logFailure("Assertion failed: %s(%d) %s\n", file, line, exprText);
  throwAssertException(file, line);
}

void checkValueFailed(const char* file, int line, const char* exprText, int value, const char* expectedText) {
  if (logFailure != nullptr) {
    logFailure("Assertion failed: %s(%d) %s is %d must be %s\n", file, line, exprText, value, expectedText);
  }
  throwAssertException(file, line);
}

void checkFloatValueFailed(const char* file, int line, const char* exprText, float value, const char* expectedText) {
  if (logFailure != nullptr) {
    logFailure("Assertion failed: %s(%d) %s is %f must be %s\n", file, line, exprText, static_cast<double>(value),
               expectedText);
  }
  throwAssertException(file, line);
}

void throwAssertException(const char* file, int line) { throw AssertException(file, line); }

}  // namespace assert
