# cmake -DOUT=<file.cc> -DDIR=<demo folder> -P embed_demo.cmake: writes a source file that holds
# demo.json and the pictures under maps/ as byte arrays, for the built-in demo data set.
file(GLOB maps RELATIVE ${DIR} ${DIR}/maps/*.png)
list(SORT maps)
set(names demo.json ${maps})
set(arrays "")
set(entries "")
set(i 0)
foreach(name IN LISTS names)
  file(READ ${DIR}/${name} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n  "
         bytes "${bytes}")
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(APPEND arrays "const unsigned char kFile${i}[] = {\n  ${bytes}0};\n")
  string(APPEND entries "      {\"${name}\", std::string(reinterpret_cast<const char*>(kFile${i}), ${size})},\n")
  math(EXPR i "${i} + 1")
endforeach()
file(WRITE ${OUT}.tmp "// Generated from tools/msgserver/demo by embed_demo.cmake; do not edit.
#include <map>
#include <string>

namespace ab::sim {
namespace {
${arrays}}  // namespace

const std::map<std::string, std::string>& BuiltInDemoFiles() {
  static const std::map<std::string, std::string> files = {
${entries}  };
  return files;
}

}  // namespace ab::sim
")
# Only a changed content touches the file, so nothing rebuilds needlessly.
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
