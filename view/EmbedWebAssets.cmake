# Turns the files of view/web/ into a C++ source that defines FindWebAsset (src/WebAssets.h).
# Run as: cmake -DOUTPUT=<file.cpp> -DFILES="<a|b|...>" -P EmbedWebAssets.cmake
string(REPLACE "|" ";" FILES "${FILES}")
set(entries "")
set(bodies "")
set(index 0)
foreach(file IN LISTS FILES)
    get_filename_component(name ${file} NAME)
    get_filename_component(extension ${file} LAST_EXT)
    if(extension STREQUAL ".html")
        set(type "text/html; charset=utf-8")
    elseif(extension STREQUAL ".js")
        set(type "text/javascript; charset=utf-8")
    elseif(extension STREQUAL ".css")
        set(type "text/css; charset=utf-8")
    else()
        set(type "application/octet-stream")
    endif()
    file(READ ${file} hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
    string(APPEND bodies "const char kBody${index}[] = {${bytes} 0};\n")
    string(APPEND entries "    {\"/${name}\", \"${type}\", {kBody${index}, ${size}}},\n")
    math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.tmp "// Made by view/EmbedWebAssets.cmake from view/web/; do not edit.
#include \"WebAssets.h\"

namespace Varkon::QUILApi::View {
namespace {
${bodies}
const WebAsset kAssets[] = {
${entries}};
}  // namespace

const WebAsset* FindWebAsset(std::string_view path) {
    if (path == \"/\") {
        path = \"/index.html\";
    }
    for (const WebAsset& asset : kAssets) {
        if (asset.path == path) {
            return &asset;
        }
    }
    return nullptr;
}

}  // namespace Varkon::QUILApi::View
")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
