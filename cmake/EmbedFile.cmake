# cmake -DINPUT=file -DOUTPUT=source.cpp -DSYMBOL=name -P EmbedFile.cmake
set(bytes "")
set(size 0)
if(DEFINED INPUT AND EXISTS "${INPUT}")
  file(READ "${INPUT}" hex HEX)
  string(LENGTH "${hex}" hexlen)
  math(EXPR size "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # Break the array into lines so compilers and editors cope with large files.
  string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
endif()
if(size EQUAL 0)
  set(bytes "0")
endif()
file(WRITE "${OUTPUT}.new"
  "// Generated from ${INPUT}; do not edit.\n"
  "#include <cstddef>\n"
  "extern const unsigned char ${SYMBOL}_data[] = {\n${bytes}\n};\n"
  "extern const std::size_t ${SYMBOL}_size = ${size};\n")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
