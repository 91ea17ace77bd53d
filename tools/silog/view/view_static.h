// The page's files, embedded in the binary at build time (embed_web.cmake turns every file
// under tools/silog/view/web into a generated source).
#pragma once

#include <span>
#include <string_view>

namespace deruz::silog::view {

struct TStaticFile {
    std::string_view Path;  // relative to web/, with "/" between folders
    std::string_view ContentType;
    std::string_view Body;
};

std::span<const TStaticFile> StaticFiles();

}  // namespace deruz::silog::view
