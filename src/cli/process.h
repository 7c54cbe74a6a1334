// What both command-line programs share: exit statuses and an owned FILE.
#pragma once

#include <cstdio>
#include <memory>

namespace mid2nolt::cli {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace mid2nolt::cli
