// A stream that the code under test writes to as it would to stderr, read
// back by the test.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

namespace vorlund::testing {

class CapturedStream {
  public:
    std::FILE* get() const { return stream_.get(); }

    // Everything written so far.
    std::string Text() const {
        std::fflush(get());
        std::rewind(get());
        std::string text;
        for (int c; (c = std::fgetc(get())) != EOF;) {
            text.push_back(static_cast<char>(c));
        }
        return text;
    }
    // Everything written so far; the next call starts afresh.
    std::string Take() {
        std::string text = Text();
        std::rewind(get());
        if (::ftruncate(::fileno(get()), 0) != 0) {
            text += "(the stream could not be emptied)";
        }
        return text;
    }

  private:
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream_{std::tmpfile(), &std::fclose};
};

}  // namespace vorlund::testing
